// The store of kept trades, ordered by revision number when it is walked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "base/mutex.h"
#include "report/trade_line.h"

// Holds, per kept trade, only what its report line writes: numbers in a
// fixed-size entry, texts packed in an arena of large blocks that the entry
// addresses by offset, so that a trade costs no allocation of its own and
// nothing is destroyed trade by trade.
//
// The notification thread adds while the driver's thread may be walking (the
// "Trade" connection stays open during the report), so both hold the store's
// lock: an addition for the addition, a walk for the whole walk. Every trade
// added before the synchronization signal is therefore in the walk, and the
// walk never sees a half-added entry.
class TradeStore {
 public:
  TradeStore() = default;
  TradeStore(const TradeStore&) = delete;
  TradeStore& operator=(const TradeStore&) = delete;

  // Notification thread: files `line` under `key` (the row's "rev"), copying
  // its texts. Of several trades under one key the first added is the one
  // walked.
  void add(uint32_t key, const TradeLine& line) EXCLUDES(mutex_);

  // Notification thread: discards every stored trade.
  void clear() EXCLUDES(mutex_);

  // The number of distinct keys stored.
  size_t size() EXCLUDES(mutex_);

  // Calls `visit` with every key and its trade in ascending key order (as
  // unsigned numbers), holding the lock throughout; `visit` must not add to
  // the store. The line's texts live until `visit` returns.
  void walk(const std::function<void(uint32_t key, const TradeLine& line)>& visit) EXCLUDES(mutex_);

 private:
  // A trade's numbers and the place of its texts in the arena. The six
  // printed fields of the trade moment and the three of the delivery date
  // are all that is kept of them.
  struct Entry {
    uint32_t key;
    int32_t rowID;
    int32_t status;
    uint32_t block;   // index into blocks_
    uint32_t offset;  // of the entry's first text in that block
    uint16_t tradeMoment[6];
    uint16_t deliveryDate[3];
  };

  struct Block {
    std::unique_ptr<char[]> bytes;
    size_t size = 0;
    size_t used = 0;
  };

  // Room for `bytes` in the last block (a new block when they don't fit).
  char* reserveText(size_t bytes, Entry* entry) REQUIRES(mutex_);
  // Orders the entries by key, those added since the last walk included, and
  // drops every entry but the first added of each key.
  void order() REQUIRES(mutex_);
  TradeLine lineOf(const Entry& entry) const REQUIRES(mutex_);

  Mutex mutex_;
  std::vector<Entry> entries_ GUARDED_BY(mutex_);
  std::vector<Block> blocks_ GUARDED_BY(mutex_);
  size_t ordered_ GUARDED_BY(mutex_) = 0;  // entries_[0, ordered_) are ordered and unique
};
