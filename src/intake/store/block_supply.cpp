#include "intake/store/block_supply.h"

#include <new>
#include <system_error>
#include <utility>

BlockSupply::~BlockSupply() { waitForNext(); }

void BlockSupply::waitForNext() {
  if (preparing_.joinable()) preparing_.join();
}

void BlockSupply::discardNext() {
  waitForNext();
  asked_ = false;
  next_ = platform::LargeBlock();
}

platform::LargeBlock BlockSupply::take(size_t bytes) {
  if (bytes > blockBytes_) return platform::LargeBlock(bytes);
  waitForNext();
  asked_ = false;
  if (next_.size() != 0) return std::move(next_);
  try {
    return platform::LargeBlock(blockBytes_);
  } catch (const std::bad_alloc&) {
    // Short of memory (the block made ready could not be had either): one
    // just large enough may still fit, so that trades go on being kept until
    // not even that does.
    return platform::LargeBlock(bytes);
  }
}

void BlockSupply::startPreparing() {
  asked_ = true;
  waitForNext();
  if (next_.size() != 0) return;
  try {
    preparing_ = std::thread([this] {
      try {
        platform::LargeBlock ready(blockBytes_);
        ready.mapEveryPage();
        next_ = std::move(ready);
      } catch (const std::bad_alloc&) {
        // Left empty: take() asks again, and fails there if need be.
      }
    });
  } catch (const std::system_error&) {
    // No thread to spare: the next block is made when it is needed.
  }
}
