// One notification as the program receives it: a code and a record whose
// texts live in the same block. The record and its texts are valid until the
// Notice is destroyed, right after the callback returns, and not after.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "zuqonl.h"

namespace zuqonl {

class RowBlock;

class Notice {
 public:
  Notice() = default;

  int32_t code() const { return code_; }
  // The record passed to the callback; null for codes without one.
  void* record() const { return block_.get(); }

  // A code with no record (15 to 19, or any raw code).
  static Notice bare(int32_t code);
  // TextNotice (NetIntegrityOk).
  static Notice text(int32_t code, std::string_view text);
  // ConnNotice (Clear, Synchronized, Connected, Disconnected).
  static Notice conn(int32_t code, int32_t conn);
  static Notice error(int32_t conn, std::string_view text);
  static Notice format(int32_t conn, int32_t columnsCount, std::string_view columnsFormat);
  // RowNotice (AddRow, UpdateRow, DeleteRow): values in the requested order;
  // entries past the last value are null and values past ZUQONL_ROW_VALUES
  // are not carried.
  static Notice row(int32_t code, int32_t conn, int32_t rowId,
                    const std::vector<std::string>& values);
  static Notice row(int32_t code, int32_t conn, int32_t rowId,
                    std::span<const std::string_view> values);
  // A record of `bytes` bytes (texts included) that another owner keeps
  // (RowRecords): lent to the callback and poisoned once the Notice is
  // destroyed, so that a program that keeps a pointer into it is caught as
  // it would be with a freed block.
  static Notice lent(int32_t code, void* record, size_t bytes);

 private:
  template <typename Text>
  static Notice rowOf(int32_t code, int32_t conn, int32_t rowId, std::span<const Text> values);
  // Frees an own block, gives a thread's row block back, poisons a lent one.
  struct FreeBlock {
    RowBlock* owner;   // null (as value-initialized): the block is the Notice's own
    size_t lentBytes;  // not 0: the block is lent, and this long
    void operator()(void* block) const;
  };

  Notice(int32_t code, void* block, RowBlock* owner = nullptr, size_t lentBytes = 0)
      : code_(code), block_(block, FreeBlock{owner, lentBytes}) {}

  int32_t code_ = 0;
  std::unique_ptr<void, FreeBlock> block_;
};

// Row records built one after another in a block of their own, ahead of
// their notifications: a reader thread builds them, the notification thread
// lends them to the callback (Notice::lent). Used by one thread at a time.
// Between clear() and the next clear(), a record stays where add() built it.
class RowRecords {
 public:
  explicit RowRecords(size_t capacity);
  ~RowRecords();
  RowRecords(const RowRecords&) = delete;
  RowRecords& operator=(const RowRecords&) = delete;

  // Forgets every record; none may be lent any longer.
  void clear();
  // clear(), and gives the block back to the system: the next add() takes a
  // block of the first capacity again (or its record's size, when larger).
  void release();
  // The block's size, or the size the next add() takes.
  size_t capacity() const { return capacity_; }
  // Builds the record of a row, laid out as Notice::row lays it out, after
  // the records before it; its size, texts included, in *bytes. Null when
  // it does not fit after them; a record alone always fits (the block grows
  // for it). std::bad_alloc when there is no memory.
  RowNotice* add(int32_t conn, int32_t rowId, std::span<const std::string_view> values,
                 size_t* bytes);

 private:
  const size_t firstCapacity_;
  char* block_ = nullptr;
  size_t capacity_ = 0;
  size_t used_ = 0;
};

}  // namespace zuqonl
