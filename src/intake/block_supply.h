// Large blocks for the trade store, each made ready on a thread of its own
// while the block before it fills.
#pragma once

#include <cstddef>
#include <thread>

#include "platform/large_block.h"

// The first write to each page of a fresh block makes the system map and zero
// that page, which costs more than the store's own copying; the notification
// thread, which fills the store, would wait for it row after row. So every
// block of the usual size after the first is written to once, page by page,
// on a thread of its own while the block before it is in use, and one block
// is kept ready ahead. Owned by one store and used under its lock.
class BlockSupply {
 public:
  explicit BlockSupply(size_t blockBytes) : blockBytes_(blockBytes) {}
  ~BlockSupply();
  BlockSupply(const BlockSupply&) = delete;
  BlockSupply& operator=(const BlockSupply&) = delete;

  // A block of at least `bytes`: the one made ready when the usual size
  // holds them, a new one otherwise. std::bad_alloc when there is no memory.
  platform::LargeBlock take(size_t bytes);

 private:
  void waitForNext();

  const size_t blockBytes_;
  std::thread preparing_;      // writes next_, when running
  platform::LargeBlock next_;  // ready once preparing_ is joined; may be empty
};
