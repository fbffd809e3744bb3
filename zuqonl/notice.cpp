#include "notice.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <type_traits>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZUQONL_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZUQONL_ASAN 1
#endif
#ifdef ZUQONL_ASAN
#include <sanitizer/asan_interface.h>
#define ZUQONL_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define ZUQONL_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
#else
#define ZUQONL_POISON(address, size) ((void)(address), (void)(size))
#define ZUQONL_UNPOISON(address, size) ((void)(address), (void)(size))
#endif

namespace zuqonl {

// A record and its texts are one heap block, given up when the Notice is
// destroyed, right after the callback returns. A program that keeps a
// pointer into a record then reads memory that is no longer its own, which
// the address sanitizer reports: a freed block, or one of the two blocks
// that the thread's rows take turns in, poisoned from the callback's return
// until the row after next.

// A block a thread builds its rows in, so that a table of a million rows
// costs two allocations, not a million. Outside its row's callback it is
// poisoned: a program that reads a record after its callback returned is
// caught as it would be with a freed block.
class RowBlock {
 public:
  RowBlock() = default;
  RowBlock(const RowBlock&) = delete;
  RowBlock& operator=(const RowBlock&) = delete;
  ~RowBlock() {
    ZUQONL_UNPOISON(bytes_, capacity_);
    std::free(bytes_);
  }

  // `size` bytes, or null while a Notice holds the block.
  void* take(size_t size) {
    if (taken_) return nullptr;
    if (size > capacity_) {
      ZUQONL_UNPOISON(bytes_, capacity_);
      std::free(bytes_);
      capacity_ = std::max(size, 2 * capacity_);
      bytes_ = std::malloc(capacity_);
      if (bytes_ == nullptr) {
        capacity_ = 0;
        throw std::bad_alloc();
      }
      ZUQONL_POISON(bytes_, capacity_);
    }
    ZUQONL_UNPOISON(bytes_, size);
    taken_ = true;
    return bytes_;
  }

  void giveBack() {
    ZUQONL_POISON(bytes_, capacity_);
    taken_ = false;
  }

 private:
  void* bytes_ = nullptr;
  size_t capacity_ = 0;
  bool taken_ = false;
};

namespace {

// A thread's rows take turns in two blocks, so that a text kept from one row
// and read in the next row's callback is caught as well.
thread_local RowBlock t_rowBlocks[2];
thread_local unsigned t_nextRowBlock = 0;

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
  // An absent column's value is an empty view with no data at all.
  if (!text.empty()) std::memcpy(copy, text.data(), text.size());
  copy[text.size()] = '\0';
  *cursor += text.size() + 1;
  return copy;
}

// How a row's texts are laid out in its block. Values that lie in order in
// one buffer, each a few bytes after the one before (a table file's plain
// line, each after its comma; a decoded Event, each after its length), are
// copied at once, the first byte after each becoming its NUL; others one
// by one.
struct TextLayout {
  bool inOneCopy = false;
  size_t bytes = 0;  // the texts take this much of the block
};

constexpr uintptr_t kMaxGap = 8;

template <typename Text>
TextLayout layoutOf(std::span<const Text> values) {
  TextLayout layout;
  // Only views can share a buffer; strings each have their own.
  layout.inOneCopy = std::is_same_v<Text, std::string_view> && !values.empty();
  uintptr_t end = 0;  // of the value before
  for (size_t i = 0; i < values.size(); ++i) {
    const auto at = reinterpret_cast<uintptr_t>(values[i].data());
    layout.bytes += values[i].size() + 1;
    // An absent column's value is an empty view with no data at all.
    layout.inOneCopy = layout.inOneCopy && at != 0 && (i == 0 || (at > end && at - end <= kMaxGap));
    end = at + values[i].size();
  }
  if (layout.inOneCopy) {
    layout.bytes = static_cast<size_t>(end - reinterpret_cast<uintptr_t>(values[0].data())) + 1;
  }
  return layout;
}

// A row's texts, placed from `cursor` on as `layout` says; the record's
// values point at them (the record's values past `values` are left as they
// are).
template <typename Text>
void placeRowTexts(std::span<const Text> values, const TextLayout& layout, char* cursor,
                   RowNotice* record) {
  if (!layout.inOneCopy) {
    for (size_t i = 0; i < values.size(); ++i) record->values[i] = placeText(values[i], &cursor);
    return;
  }
  const char* const start = values.front().data();
  std::memcpy(cursor, start, layout.bytes - 1);
  const char** out = record->values;
  for (const Text& value : values) {
    char* const copy = cursor + (value.data() - start);
    copy[value.size()] = '\0';
    *out++ = copy;
  }
}

}  // namespace

void Notice::FreeBlock::operator()(void* block) const {
  if (lentBytes != 0) {
    ZUQONL_POISON(block, lentBytes);
  } else if (owner != nullptr) {
    owner->giveBack();
  } else {
    std::free(block);
  }
}

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
  return rowOf(code, conn, rowId, std::span<const std::string>(values));
}

Notice Notice::row(int32_t code, int32_t conn, int32_t rowId,
                   std::span<const std::string_view> values) {
  return rowOf(code, conn, rowId, values);
}

// The block is one of the calling thread's two row blocks when no other
// Notice holds it (the row after next overwrites it, and the thread's end
// frees it); otherwise a block of the Notice's own.
template <typename Text>
Notice Notice::rowOf(int32_t code, int32_t conn, int32_t rowId, std::span<const Text> values) {
  values = values.first(std::min<size_t>(values.size(), ZUQONL_ROW_VALUES));
  const TextLayout layout = layoutOf(values);
  char* cursor = nullptr;
  RowBlock& rowBlock = t_rowBlocks[t_nextRowBlock];
  void* reused = rowBlock.take(sizeof(RowNotice) + layout.bytes);
  RowNotice* record = nullptr;
  if (reused != nullptr) {
    // Left uninitialized, unlike a record of its own: every field is set
    // below, and zeroing the record first costs as much as its texts.
    cursor = static_cast<char*>(reused) + sizeof(RowNotice);
    record = new (reused) RowNotice;
    std::fill(record->values + values.size(), record->values + ZUQONL_ROW_VALUES, nullptr);
    t_nextRowBlock ^= 1;
  } else {
    record = allocateRecord<RowNotice>(layout.bytes, &cursor);
  }
  record->conn = conn;
  record->rowID = rowId;
  placeRowTexts(values, layout, cursor, record);
  return Notice(code, record, reused != nullptr ? &rowBlock : nullptr);
}

Notice Notice::lent(int32_t code, void* record, size_t bytes) {
  return Notice(code, record, nullptr, bytes);
}

namespace {

// Records start on this boundary: a record's own alignment, and the
// granule in which the address sanitizer poisons memory.
constexpr size_t kRecordAlign = 8;
static_assert(alignof(RowNotice) <= kRecordAlign);

size_t roundUp(size_t bytes) { return (bytes + kRecordAlign - 1) / kRecordAlign * kRecordAlign; }

}  // namespace

RowRecords::RowRecords(size_t capacity) : firstCapacity_(capacity), capacity_(capacity) {}

RowRecords::~RowRecords() {
  ZUQONL_UNPOISON(block_, capacity_);
  ::operator delete (block_, std::align_val_t{kRecordAlign});
}

void RowRecords::clear() {
  ZUQONL_UNPOISON(block_, used_);
  used_ = 0;
}

void RowRecords::release() {
  used_ = 0;
  if (block_ != nullptr) ZUQONL_UNPOISON(block_, capacity_);
  ::operator delete (block_, std::align_val_t{kRecordAlign});
  block_ = nullptr;
  capacity_ = firstCapacity_;
}

RowNotice* RowRecords::add(int32_t conn, int32_t rowId, std::span<const std::string_view> values,
                           size_t* bytes) {
  values = values.first(std::min<size_t>(values.size(), ZUQONL_ROW_VALUES));
  const TextLayout layout = layoutOf(values);
  // Whole granules, so that poisoning the record reaches its last text.
  const size_t size = roundUp(sizeof(RowNotice) + layout.bytes);
  const size_t at = used_;
  if (block_ == nullptr || at + size > capacity_) {
    if (used_ != 0) return nullptr;
    if (block_ != nullptr) {
      ::operator delete (block_, std::align_val_t{kRecordAlign});
      block_ = nullptr;
    }
    capacity_ = std::max(capacity_, size);
    block_ = static_cast<char*>(::operator new (capacity_, std::align_val_t{kRecordAlign}));
  }
  auto* record = new (block_ + at) RowNotice;
  std::fill(record->values + values.size(), record->values + ZUQONL_ROW_VALUES, nullptr);
  record->conn = conn;
  record->rowID = rowId;
  placeRowTexts(values, layout, block_ + at + sizeof(RowNotice), record);
  used_ = at + size;
  *bytes = size;
  return record;
}

}  // namespace zuqonl
