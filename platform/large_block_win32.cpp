// Large blocks on Windows: committed pages from VirtualAlloc. Large pages
// there need a privilege an ordinary user lacks, so they are not asked for.
#include <windows.h>

#include <new>

#include "platform/large_block.h"

namespace platform {

size_t LargeBlock::pageBytes() {
  static const size_t page = [] {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    return static_cast<size_t>(system.dwPageSize);
  }();
  return page;
}

LargeBlock::LargeBlock(size_t bytes) {
  void* mapping =
      VirtualAlloc(nullptr, bytes == 0 ? 1 : bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (mapping == nullptr) throw std::bad_alloc();
  const size_t page = pageBytes();
  data_ = static_cast<char*>(mapping);
  size_ = ((bytes == 0 ? 1 : bytes) + page - 1) / page * page;
}

void LargeBlock::mapEveryPage() { writeEveryPage(); }

LargeBlock::~LargeBlock() { release(); }

void LargeBlock::release() {
  if (data_ != nullptr) VirtualFree(data_, 0, MEM_RELEASE);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace platform
