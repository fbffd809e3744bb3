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
