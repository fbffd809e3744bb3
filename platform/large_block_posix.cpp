// Large blocks on POSIX: an anonymous mapping of ordinary pages.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <new>

#include "platform/large_block.h"

namespace platform {

LargeBlock::LargeBlock(size_t bytes) {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t wanted = bytes == 0 ? 1 : bytes;
  if (wanted > SIZE_MAX - page) throw std::bad_alloc();
  const size_t size = (wanted + page - 1) / page * page;
  void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_NOHUGEPAGE
  // Ordinary pages even where Linux would give huge ones unasked: a huge
  // page takes 2 MiB of memory free in one piece, and a virtual machine
  // hands such pieces back to its host soon after another program frees
  // them, so each first write of one waits for the host to map it again.
  // Ordinary pages come from what was freed last, still mapped: a million
  // trades run a fifth faster right after a large program has ended, and
  // no slower otherwise. Only a hint; nothing depends on it.
  madvise(mapping, size, MADV_NOHUGEPAGE);
#endif
  data_ = static_cast<char*>(mapping);
  size_ = size;
  mapping_ = mapping;
  mappingSize_ = size;
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
