// Large blocks on POSIX: an anonymous mapping, aligned to the large-page size
// and marked for large pages where the system has them.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <new>

#include "platform/large_block.h"

namespace platform {

namespace {

// The large-page size of x86-64 and of most 64-bit systems; on others the
// alignment merely wastes a little address space.
constexpr size_t kLargePage = 2u << 20;

size_t roundUp(size_t value, size_t unit) { return (value + unit - 1) / unit * unit; }

}  // namespace

LargeBlock::LargeBlock(size_t bytes) {
  // Whole small pages: the stretch past the last whole large page is mapped
  // in small ones, so that a block of any size takes no more memory than
  // it holds.
  static const size_t smallPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t size = roundUp(bytes == 0 ? 1 : bytes, smallPage);
  if (size < bytes || size > SIZE_MAX - kLargePage) throw std::bad_alloc();
  // One large page more than needed, so that an aligned stretch fits.
  const size_t mappingSize = size + kLargePage;
  void* mapping =
      mmap(nullptr, mappingSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) throw std::bad_alloc();
  const uintptr_t start = reinterpret_cast<uintptr_t>(mapping);
  const uintptr_t aligned = roundUp(start, kLargePage);
  data_ = reinterpret_cast<char*>(aligned);
  size_ = size;
  mapping_ = mapping;
  mappingSize_ = mappingSize;
#ifdef MADV_HUGEPAGE
  // Only a hint: where large pages are off or used up, ordinary ones serve.
  madvise(data_, size_, MADV_HUGEPAGE);
#endif
}

LargeBlock::~LargeBlock() { release(); }

void LargeBlock::release() {
  if (mapping_ != nullptr) munmap(mapping_, mappingSize_);
  data_ = nullptr;
  size_ = 0;
  mapping_ = nullptr;
  mappingSize_ = 0;
}

}  // namespace platform
