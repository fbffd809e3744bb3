// The store of kept trades, ordered by revision number when it is walked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "intake/kept_trade.h"
#include "intake/store/block_supply.h"
#include "intake/store/repeated_texts.h"
#include "platform/large_block.h"
#include "platform/mutex.h"

// Holds, per kept trade, only what its report line writes, as one record of
// numbers and texts packed after the one before in large blocks, so that a
// trade costs no allocation of its own and nothing is destroyed trade by
// trade. A short text that repeats from trade to trade is kept once, and its
// records hold a code for it. While the trades come in ascending order of
// key, the records are the walk; the first key out of order brings an index
// of places, ordered when walked. The machinery (the record's packed form,
// the repeated texts, the blocks made ready ahead) is in intake/store/.
//
// The notification thread adds while the driver's thread may be walking (the
// "Trade" connection stays open during the report), so both hold the store's
// lock: an addition for the addition, a walk for the whole walk. Every trade
// added before the synchronization signal is therefore in the walk, and the
// walk never sees a half-added entry.
class TradeStore {
 public:
  TradeStore();
  // For tests: a store whose index packs its places only while it has at
  // most `packedBlocks` blocks (at most the most that fit the packed form).
  explicit TradeStore(size_t packedBlocks);
  TradeStore(const TradeStore&) = delete;
  TradeStore& operator=(const TradeStore&) = delete;

  // Notification thread: files the line of `record` seen from the firm's
  // `side` under `key` (the row's "rev"), copying its texts. Of several
  // trades under one key the first added is the one walked. False, with
  // nothing filed, when the trade would take the store past its limit.
  bool add(uint32_t key, const TradeRecord& record, FirmSide side) EXCLUDES(mutex_);

  // Driver, before any trade is added: the most bytes the stored trades may
  // take, their records, their places in the index and their repeated texts
  // counted. The blocks
  // they are packed in may hold up to two blocks (8 MiB) more. No limit
  // until set. Also starts making the first block ready: the connection
  // that brings the trades is opened next.
  void setLimit(uint64_t bytes) EXCLUDES(mutex_);

  // Notification thread: discards every stored trade.
  void clear() EXCLUDES(mutex_);

  // The number of distinct keys stored.
  size_t size() EXCLUDES(mutex_);

  // The number of trades added since the store was made or cleared, later
  // trades under a key already stored included. Needs no memory, so it can
  // be told when the memory has run out.
  size_t added() EXCLUDES(mutex_);

  // Calls `visit` with every key and its trade in ascending key order (as
  // unsigned numbers), then `end` (when given), holding the lock throughout;
  // neither may add to the store. The texts of every line visited live until
  // `end` returns.
  void walk(const std::function<void(uint32_t key, const KeptTrade& line)>& visit,
            const std::function<void()>& end = {}) EXCLUDES(mutex_);

  // A trade as walkStored() finds it: its key, and its record not yet read.
  struct StoredTrade {
    const char* record;
    uint32_t key;
  };

  // As walk(), each trade's record left unread: read() gives its line, on
  // any thread, so that the reading of a large walk can be shared out.
  void walkStored(const std::function<void(const StoredTrade& trade)>& visit,
                  const std::function<void()>& end = {}) EXCLUDES(mutex_);

  // Reads the line of a trade that walkStored() visited into *line; its
  // texts live until that walk's `end` returns. Called from any thread
  // while that walk has not ended: its thread holds the lock, so nothing
  // changes the records or their repeated texts meanwhile.
  void read(const StoredTrade& trade, KeptTrade* line) const NO_THREAD_SAFETY_ANALYSIS;

  // Asks the processor to start loading the record of a trade that
  // walkStored() visited, for a read() soon after on the same thread.
  static void prefetch(const StoredTrade& trade);

 private:
  // Where a trade's record lies, and its key, for ordering. A store of at
  // most kNarrowBlocks blocks packs the three in one number of 8 bytes
  // instead (trade_store.cpp): its index takes two thirds of the memory.
  struct Place {
    uint32_t key;
    uint32_t block;   // index into blocks_
    uint32_t offset;  // of the record in that block
  };

  // The index's places, in a large block of their own: a large day's index
  // is written once, page after page, and large pages map it in a few steps
  // where ordinary ones would take thousands.
  struct PlaceIndex {
    platform::LargeBlock memory;
    size_t size = 0;
    bool wide = false;  // its places are Places, else packed in 8 bytes

    template <typename P>
    P* begin() const {
      return reinterpret_cast<P*>(memory.data());
    }
    // Room for `count` places of `P` in all, the places held kept.
    template <typename P>
    void reserve(size_t count);
  };

  struct Block {
    platform::LargeBlock memory;
    size_t used = 0;
    size_t records = 0;
  };

  bool pack(uint32_t key, const KeptTrade& line) REQUIRES(mutex_);
  // Room for `bytes` at the end of the last block, or null where they don't
  // fit there.
  char* roomAtEnd(size_t bytes) REQUIRES(mutex_);
  // Room for `bytes` at the end of the last block (a new block when they
  // don't fit).
  char* reserve(size_t bytes) REQUIRES(mutex_);
  // Brings places_ up to date: the places of every record, ordered by key,
  // the first added of each key only.
  void index() REQUIRES(mutex_);
  template <typename P>
  void indexAs() REQUIRES(mutex_);
  // The index's places become Places: the store has outgrown the packed
  // form.
  void widen() REQUIRES(mutex_);
  template <typename P>
  void walkPlaces(const std::function<void(const StoredTrade& trade)>& visit) REQUIRES(mutex_);
  const char* recordAt(uint32_t block, uint32_t offset) const REQUIRES(mutex_) {
    return blocks_[block].memory.data() + offset;
  }

  platform::Mutex mutex_;
  const size_t packedBlocks_;
  BlockSupply supply_ GUARDED_BY(mutex_);
  // The records, one after the other in the order they were added.
  std::vector<Block> blocks_ GUARDED_BY(mutex_);
  size_t count_ GUARDED_BY(mutex_) = 0;
  uint64_t limit_ GUARDED_BY(mutex_) = UINT64_MAX;
  uint64_t counted_ GUARDED_BY(mutex_) = 0;  // bytes of the records stored, against limit_
  // Every record's key is above the one before: the records themselves are
  // then the walk, with no index. Tables usually come in revision order.
  bool ascending_ GUARDED_BY(mutex_) = true;
  // The key of the record added last (0 before the first): the next
  // record keeps its key as the difference from it.
  uint32_t lastKey_ GUARDED_BY(mutex_) = 0;
  // Once a key came out of order: the index, the first record not yet in
  // it, and the key of the record before that one (each record's key is
  // kept as its difference from that).
  PlaceIndex places_ GUARDED_BY(mutex_);
  Place unindexed_ GUARDED_BY(mutex_){0, 0, 0};
  uint32_t unindexedKey_ GUARDED_BY(mutex_) = 0;
  size_t indexedCount_ GUARDED_BY(mutex_) = 0;  // records the index has taken in
  std::string joined_ GUARDED_BY(mutex_);       // the joined texts of the line being added
  std::string aside_ GUARDED_BY(mutex_);        // a record written before it has a block
  // Per text column, the texts that repeat, which records name by code.
  RepeatedTexts repeated_[kKeptTextCount] GUARDED_BY(mutex_);
};
