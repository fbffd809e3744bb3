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
    mapping_ = std::exchange(other.mapping_, nullptr);
    mappingSize_ = std::exchange(other.mappingSize_, 0);
  }

  char* data_ = nullptr;
  size_t size_ = 0;
  void* mapping_ = nullptr;  // what was asked of the system: may begin before data_
  size_t mappingSize_ = 0;
};

}  // namespace platform
