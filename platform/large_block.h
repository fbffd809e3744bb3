// Memory for a large store that lives as long as the run: one block of whole
// pages, taken from the system directly rather than from the heap.
//
// A page is costly the first time it is written (the system maps it then,
// and on a virtual machine the hypervisor may too); a store of a million
// trades writes some twenty thousand such pages. The block is of ordinary
// pages, which the system takes first from memory freed last and still
// mapped.
#pragma once

#include <cstddef>
#include <utility>

namespace platform {

class LargeBlock {
 public:
  LargeBlock() = default;
  // At least `bytes` of zero-filled memory, or std::bad_alloc.
  explicit LargeBlock(size_t bytes);
  ~LargeBlock();
  LargeBlock(LargeBlock&& other) noexcept { take(other); }
  LargeBlock& operator=(LargeBlock&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  LargeBlock(const LargeBlock&) = delete;
  LargeBlock& operator=(const LargeBlock&) = delete;

  // Maps every page of the block now, as its first writes would one by one:
  // for a block made ready ahead of its use, on a thread of its own.
  void mapEveryPage();

  char* data() const { return data_; }
  // The usable size: `bytes` rounded up to whole pages.
  size_t size() const { return size_; }

 private:
  // Gives the memory back to the system; the block is then empty.
  void release();
  void take(LargeBlock& other) {
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  // The system's page size.
  static size_t pageBytes();
  // A write to each page, for a system that cannot map them all at once.
  void writeEveryPage() {
    volatile char* const bytes = data_;
    for (size_t at = 0; at < size_; at += pageBytes()) bytes[at] = 0;
  }

  char* data_ = nullptr;  // as the system gave it
  size_t size_ = 0;
};

}  // namespace platform
