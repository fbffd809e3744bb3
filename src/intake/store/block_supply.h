// Large blocks for the trade store, each made ready on a thread of its own
// while the block before it fills.
#pragma once

#include <cstddef>
#include <thread>

#include "platform/large_block.h"

// The first write to each page of a fresh block makes the system map and zero
// that page, which costs more than the store's own copying; the notification
// thread, which fills the store, would wait for it row after row. So once the
// store's block is half full, every page of the next one is mapped on a
// thread of its own. A store that never fills half a block never starts
// one. Owned by one store and used under its lock.
class BlockSupply {
 public:
  explicit BlockSupply(size_t blockBytes) : blockBytes_(blockBytes) {}
  ~BlockSupply();
  BlockSupply(const BlockSupply&) = delete;
  BlockSupply& operator=(const BlockSupply&) = delete;

  // A block of at least `bytes`: the one made ready when the usual size
  // holds them, a new one otherwise, or one of only `bytes` when the usual
  // size no longer fits in memory. std::bad_alloc when not even that does.
  platform::LargeBlock take(size_t bytes);

  // Starts making the next block of the usual size ready, unless one is ready
  // or on its way.
  void prepareNext() {
    if (!asked_) startPreparing();
  }

  size_t blockBytes() const { return blockBytes_; }

  // Gives back the block made ready or on its way, if any: once the trades
  // are in, its memory is better spent on the report.
  void discardNext();

 private:
  void waitForNext();
  void startPreparing();

  const size_t blockBytes_;
  std::thread preparing_;      // writes next_, when running
  bool asked_ = false;         // preparing_ was started since the last take()
  platform::LargeBlock next_;  // ready once preparing_ is joined; may be empty
};
