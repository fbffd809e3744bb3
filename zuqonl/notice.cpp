#include "notice.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace zuqonl {
namespace {

// Heap block holding a record of type R followed by `textBytes` bytes of
// texts. Throws std::bad_alloc like any other allocation of the library.
template <typename R>
R* allocateRecord(size_t textBytes, char** texts) {
  void* block = std::malloc(sizeof(R) + textBytes);
  if (block == nullptr) throw std::bad_alloc();
  *texts = static_cast<char*>(block) + sizeof(R);
  return new (block) R{};
}

// Copies `text` with its NUL to *cursor and advances it; returns the copy.
const char* placeText(std::string_view text, char** cursor) {
  char* copy = *cursor;
  std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  *cursor += text.size() + 1;
  return copy;
}

}  // namespace

Notice Notice::bare(int32_t code) { return Notice(code, nullptr); }

Notice Notice::text(int32_t code, std::string_view text) {
  char* cursor = nullptr;
  auto* record = allocateRecord<TextNotice>(text.size() + 1, &cursor);
  record->text = placeText(text, &cursor);
  return Notice(code, record);
}

Notice Notice::conn(int32_t code, int32_t conn) {
  char* cursor = nullptr;
  auto* record = allocateRecord<ConnNotice>(0, &cursor);
  record->conn = conn;
  return Notice(code, record);
}

Notice Notice::error(int32_t conn, std::string_view text) {
  char* cursor = nullptr;
  auto* record = allocateRecord<ErrorNotice>(text.size() + 1, &cursor);
  record->conn = conn;
  record->text = placeText(text, &cursor);
  return Notice(ZUQONL_ERROR, record);
}

Notice Notice::format(int32_t conn, int32_t columnsCount, std::string_view columnsFormat) {
  char* cursor = nullptr;
  auto* record = allocateRecord<FormatNotice>(columnsFormat.size() + 1, &cursor);
  record->conn = conn;
  record->columnsCount = columnsCount;
  record->columnsFormat = placeText(columnsFormat, &cursor);
  return Notice(ZUQONL_FORMAT, record);
}

Notice Notice::row(int32_t code, int32_t conn, int32_t rowId,
                   const std::vector<std::string>& values) {
  size_t count = std::min<size_t>(values.size(), ZUQONL_ROW_VALUES);
  size_t textBytes = 0;
  for (size_t i = 0; i < count; ++i) textBytes += values[i].size() + 1;
  char* cursor = nullptr;
  auto* record = allocateRecord<RowNotice>(textBytes, &cursor);
  record->conn = conn;
  record->rowID = rowId;
  for (size_t i = 0; i < count; ++i) record->values[i] = placeText(values[i], &cursor);
  return Notice(code, record);
}

}  // namespace zuqonl
