// One notification as the program receives it: a code and a record whose
// texts live in the same heap block. The block is given up when the Notice is
// destroyed, right after the callback returns, so a program that keeps a
// pointer into a record reads memory that is no longer its own, which the
// address sanitizer reports: a freed block, or one of the blocks that rows
// take turns in, poisoned from the callback's return until the block's turn
// comes again, after the row after next at the earliest.
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

// Blocks that rows are built in by turns, so that a table of a million rows
// costs a few allocations, not a million. A thread builds its rows in the
// ring it was given, else in its own ring of two blocks. A ring must have
// more blocks than row notices can be alive at once, plus two: then every
// block is free again when its turn comes, and the block of a row is not
// reused before the callbacks of the two rows after it. The ring must
// outlive the notices built in it.
class RowBlockRing {
 public:
  explicit RowBlockRing(size_t count);
  ~RowBlockRing();
  RowBlockRing(const RowBlockRing&) = delete;
  RowBlockRing& operator=(const RowBlockRing&) = delete;

  // The calling thread builds its rows in `ring` from now on (null: in its
  // own ring again).
  static void useOnThisThread(RowBlockRing* ring);

 private:
  friend class Notice;
  // The block whose turn it is, or null while a notice still holds it; the
  // turn passes on when the block is taken.
  void* take(size_t size, RowBlock** owner);

  std::unique_ptr<RowBlock[]> blocks_;
  size_t count_;
  size_t next_ = 0;
};

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
  // are not carried. The block is the next one of the calling thread's
  // ring (see RowBlockRing) when no other Notice holds it, else a block of
  // its own.
  static Notice row(int32_t code, int32_t conn, int32_t rowId,
                    const std::vector<std::string>& values);
  static Notice row(int32_t code, int32_t conn, int32_t rowId,
                    std::span<const std::string_view> values);

 private:
  template <typename Text>
  static Notice rowOf(int32_t code, int32_t conn, int32_t rowId, std::span<const Text> values);
  // Frees an own block, gives a thread's row block back.
  struct FreeBlock {
    RowBlock* owner;  // null (as value-initialized): the block is the Notice's own
    void operator()(void* block) const;
  };

  Notice(int32_t code, void* block, RowBlock* owner = nullptr)
      : code_(code), block_(block, FreeBlock{owner}) {}

  int32_t code_ = 0;
  std::unique_ptr<void, FreeBlock> block_;
};

}  // namespace zuqonl
