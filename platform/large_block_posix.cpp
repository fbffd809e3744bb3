// Large blocks on POSIX: an anonymous mapping of ordinary pages.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <new>

#include "platform/large_block.h"

namespace platform {

size_t LargeBlock::pageBytes() {
  static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  return page;
}

LargeBlock::LargeBlock(size_t bytes) {
  const size_t page = pageBytes();
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
}

void LargeBlock::mapEveryPage() {
#ifdef MADV_POPULATE_WRITE
  // One call maps them all, where a write to each page would stop the
  // thread once a page: on a virtual machine ten million trades then take
  // a second less of the system's time. Kernels before 5.14 do not know it
  // (EINVAL); any other failure leaves the pages to be mapped as they are
  // written, as writing them here would.
  if (size_ == 0 || madvise(data_, size_, MADV_POPULATE_WRITE) == 0 || errno != EINVAL) return;
#endif
  writeEveryPage();
}

LargeBlock::~LargeBlock() { release(); }

void LargeBlock::release() {
  if (data_ != nullptr) munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace platform
