// Large blocks on Windows: committed pages from VirtualAlloc. Large pages
// there need a privilege an ordinary user lacks, so they are not asked for.
#include <windows.h>

#include <new>

#include "platform/large_block.h"

namespace platform {

LargeBlock::LargeBlock(size_t bytes) {
  void* mapping =
      VirtualAlloc(nullptr, bytes == 0 ? 1 : bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
  if (mapping == nullptr) throw std::bad_alloc();
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const size_t page = system.dwPageSize;
  data_ = static_cast<char*>(mapping);
  size_ = ((bytes == 0 ? 1 : bytes) + page - 1) / page * page;
  mapping_ = mapping;
  mappingSize_ = size_;
}

void LargeBlock::mapEveryPage() {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  volatile char* const bytes = data_;
  for (size_t at = 0; at < size_; at += system.dwPageSize) bytes[at] = 0;
}

LargeBlock::~LargeBlock() { release(); }

void LargeBlock::release() {
  if (mapping_ != nullptr) VirtualFree(mapping_, 0, MEM_RELEASE);
  data_ = nullptr;
  size_ = 0;
  mapping_ = nullptr;
  mappingSize_ = 0;
}

}  // namespace platform
