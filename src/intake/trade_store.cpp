#include "intake/trade_store.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "intake/store/packed_record.h"

namespace {

constexpr size_t kBlockBytes = 4u << 20;

// The most room for writing a record aside that stays for the next one.
constexpr size_t kAsideKeptBytes = 64u << 10;

// How many places ahead of the walk a record is asked for: about as far as
// a memory load's wait outlasts the visit of one.
constexpr ptrdiff_t kRecordsAhead = 16;

// The packed place: the key in the high 32 bits, then the block's index,
// then the record's offset in the block in the low kOffsetBits, so that
// places order as numbers, with the records of one key in their order of
// arrival. A block larger than the usual size holds one record, at offset
// 0, so every offset fits.
using PackedPlace = uint64_t;
constexpr int kOffsetBits = 22;
constexpr size_t kNarrowBlocks = size_t{1} << (32 - kOffsetBits);
static_assert(kBlockBytes <= size_t{1} << kOffsetBits);

template <typename P>
P placeOf(uint32_t key, uint32_t block, uint32_t offset) {
  return P{key, block, offset};
}
template <>
PackedPlace placeOf<PackedPlace>(uint32_t key, uint32_t block, uint32_t offset) {
  return PackedPlace{key} << 32 | PackedPlace{block} << kOffsetBits | offset;
}

uint32_t keyOf(PackedPlace place) { return static_cast<uint32_t>(place >> 32); }
uint32_t blockOf(PackedPlace place) {
  return static_cast<uint32_t>(place >> kOffsetBits) & ((1u << (32 - kOffsetBits)) - 1);
}
uint32_t offsetOf(PackedPlace place) {
  return static_cast<uint32_t>(place) & ((1u << kOffsetBits) - 1);
}
bool before(PackedPlace a, PackedPlace b) { return a < b; }

template <typename P>
uint32_t keyOf(const P& place) {
  return place.key;
}
template <typename P>
uint32_t blockOf(const P& place) {
  return place.block;
}
template <typename P>
uint32_t offsetOf(const P& place) {
  return place.offset;
}
template <typename P>
bool before(const P& a, const P& b) {
  if (a.key != b.key) return a.key < b.key;
  return a.block != b.block ? a.block < b.block : a.offset < b.offset;
}

// Sorts [begin, end) by `before` by insertion, each element moved back past
// the ones it belongs before, unless that takes more than `budget` moves:
// false then, the elements left in some order of their own. Keys that come
// nearly in order are each moved a few places, and it is stable.
template <typename Element, typename Before>
bool sortByInsertion(Element* begin, Element* end, Before before, size_t budget) {
  for (Element* next = begin + (begin != end); next < end; ++next) {
    if (!before(*next, next[-1])) continue;
    const Element moving = *next;
    Element* at = next;
    do {
      *at = at[-1];
      --at;
    } while (at != begin && before(moving, at[-1]) && --budget != 0);
    *at = moving;
    if (budget == 0) return false;
  }
  return true;
}

// Writes the places of the records of blocks [block, endBlock) to `out`,
// those of the first block from `offset` on, their keys following from
// `key`; returns the last key.
template <typename P, typename Block>
uint32_t writePlaces(const Block* blocks, uint32_t block, uint32_t offset, uint32_t endBlock,
                     uint32_t key, P* out) {
  for (; block < endBlock; ++block, offset = 0) {
    const char* const data = blocks[block].memory.data();
    while (offset != blocks[block].used) {
      key = recordKey(data + offset, key);
      *out++ = placeOf<P>(key, block, offset);
      offset = static_cast<uint32_t>(skipRecord(data + offset) - data);
    }
  }
  return key;
}

// Adds `base` to the key of every place of [begin, end), as unsigned
// numbers.
void addToKeys(PackedPlace* begin, PackedPlace* end, uint32_t base) {
  for (; begin != end; ++begin) *begin += PackedPlace{base} << 32;
}
template <typename P>
void addToKeys(P* begin, P* end, uint32_t base) {
  for (; begin != end; ++begin) begin->key += base;
}

// Fewer places are written sooner than a thread is started.
constexpr size_t kLeastSharedPlaces = 1 << 16;

// About the comparisons a sort of `count` elements makes: log2(count) each.
size_t sortCost(size_t count) {
  size_t levels = 1;
  for (size_t rest = count; rest > 1; rest >>= 1) ++levels;
  return count * levels;
}

}  // namespace

TradeStore::TradeStore() : TradeStore(kNarrowBlocks) {}

TradeStore::TradeStore(size_t packedBlocks)
    : packedBlocks_(std::min(packedBlocks, kNarrowBlocks)), supply_(kBlockBytes) {}

bool TradeStore::add(uint32_t key, const TradeRecord& record, FirmSide side) {
  platform::MutexLock lock(mutex_);
  return pack(key, keepTrade(record, side, &joined_));
}

void TradeStore::setLimit(uint64_t bytes) {
  platform::MutexLock lock(mutex_);
  limit_ = bytes;
  // The rows follow at once. Mapped on first write, the first block would
  // make the notification thread wait page by page while the first trades
  // come in; it is made ready meanwhile, as every later block is.
  if (blocks_.empty()) supply_.prepareNext();
}

bool TradeStore::pack(uint32_t key, const KeptTrade& line) {
  // Written where it will stay when the last block has room for the most it
  // can take; else first aside, so that a record too large for the limit
  // never reaches the blocks and none is taken for it.
  const size_t most = recordBytesAtMost(line);
  char* start = roomAtEnd(most);
  const bool inPlace = start != nullptr;
  if (!inPlace) {
    aside_.resize(most);
    start = aside_.data();
  }
  uint64_t entered = 0;
  const auto bytes =
      static_cast<size_t>(packRecord(start, key, lastKey_, line, repeated_, &entered) - start);
  counted_ += entered;
  // Counted before the record is kept: one over the limit is left where it
  // was written, as room that the next record takes.
  const uint64_t counted = uint64_t{bytes} + sizeof(Place);
  const bool fits = counted <= limit_ && counted_ <= limit_ - counted;
  if (!inPlace) {
    if (fits) std::memcpy(reserve(bytes), start, bytes);
    // The room of a large record is not kept for the records after it.
    if (aside_.size() > kAsideKeptBytes) std::string().swap(aside_);
  }
  if (!fits) return false;
  counted_ += counted;
  Block& block = blocks_.back();
  block.used += bytes;
  ++block.records;
  if (block.used > supply_.blockBytes() / 2) supply_.prepareNext();
  if (count_ != 0 && key <= lastKey_) ascending_ = false;
  lastKey_ = key;
  ++count_;
  return true;
}

char* TradeStore::roomAtEnd(size_t bytes) {
  // A block larger than the usual size holds its one large record only,
  // so that every record of a usual block lies within its usual size.
  if (blocks_.empty() || blocks_.back().memory.size() > supply_.blockBytes() ||
      blocks_.back().memory.size() - blocks_.back().used < bytes) {
    return nullptr;
  }
  return blocks_.back().memory.data() + blocks_.back().used;
}

char* TradeStore::reserve(size_t bytes) {
  if (char* const room = roomAtEnd(bytes)) return room;
  Block& block = blocks_.emplace_back();
  block.memory = supply_.take(bytes);
  return block.memory.data();
}

void TradeStore::clear() {
  platform::MutexLock lock(mutex_);
  blocks_.clear();
  count_ = 0;
  counted_ = 0;
  ascending_ = true;
  lastKey_ = 0;
  places_ = PlaceIndex();
  unindexed_ = Place{0, 0, 0};
  unindexedKey_ = 0;
  indexedCount_ = 0;
  for (RepeatedTexts& texts : repeated_) texts.clear();
}

size_t TradeStore::added() {
  platform::MutexLock lock(mutex_);
  return count_;
}

size_t TradeStore::size() {
  platform::MutexLock lock(mutex_);
  if (ascending_) return count_;
  index();
  return places_.size;
}

void TradeStore::walk(const std::function<void(uint32_t, const KeptTrade&)>& visit,
                      const std::function<void()>& end) {
  KeptTrade line;
  walkStored(
      [&](const StoredTrade& trade) {
        read(trade, &line);
        visit(trade.key, line);
      },
      end);
}

void TradeStore::walkStored(const std::function<void(const StoredTrade&)>& visit,
                            const std::function<void()>& end) {
  platform::MutexLock lock(mutex_);
  supply_.discardNext();
  if (ascending_) {
    uint32_t key = 0;
    for (const Block& block : blocks_) {
      const char* at = block.memory.data();
      const char* const end = at + block.used;
      while (at != end) {
        key = recordKey(at, key);
        visit(StoredTrade{at, key});
        at = skipRecord(at);
      }
    }
  } else {
    index();
    if (places_.wide) {
      walkPlaces<Place>(visit);
    } else {
      walkPlaces<PackedPlace>(visit);
    }
  }
  if (end) end();
}

template <typename P>
void TradeStore::walkPlaces(const std::function<void(const StoredTrade&)>& visit) {
  // Out of order, the records are not where the processor looks ahead by
  // itself: each is asked for some places before it is visited.
  const P* const first = places_.begin<P>();
  const P* const last = first + places_.size;
  for (const P* place = first; place != last; ++place) {
    if (last - place > kRecordsAhead) {
      const P& ahead = place[kRecordsAhead];
      prefetchRecord(recordAt(blockOf(ahead), offsetOf(ahead)));
    }
    visit(StoredTrade{recordAt(blockOf(*place), offsetOf(*place)), keyOf(*place)});
  }
}

void TradeStore::read(const StoredTrade& trade, KeptTrade* line) const {
  readRecord(trade.record, trade.key, repeated_, line);
}

void TradeStore::prefetch(const StoredTrade& trade) { prefetchRecord(trade.record); }

// Among records of one key the first added comes first: places are ordered
// by key, then by where they lie, which is their order of arrival. The sort
// needs no memory beside the index itself. Revisions usually come nearly in
// order, each a few places from its own: moving each back to its place
// costs a few moves per place, against a full sort's comparisons, so it is
// tried first, for at most what the full sort would cost.
void TradeStore::index() {
  if (!places_.wide && blocks_.size() > packedBlocks_) widen();
  if (places_.wide) {
    indexAs<Place>();
  } else {
    indexAs<PackedPlace>();
  }
}

// A large index is written by two threads: the later half of the blocks'
// places, with their keys counted from 0, on a thread of its own, sorted
// there, then moved to their keys once the earlier half's last key is
// known; the earlier half is written and sorted here meanwhile. The sort of
// the whole that follows finds two sorted halves.
template <typename P>
void TradeStore::indexAs() {
  const size_t indexed = places_.size;
  const size_t adding = count_ - indexedCount_;
  if (adding == 0) return;
  places_.reserve<P>(indexed + adding);
  P* const places = places_.begin<P>();
  P* const end = places + indexed + adding;
  auto ordered = [](const P& a, const P& b) { return before(a, b); };
  const Block* const blocks = blocks_.data();
  const auto blockCount = static_cast<uint32_t>(blocks_.size());
  const uint32_t laterBlock = unindexed_.block + (blockCount - unindexed_.block) / 2;
  size_t laterPlaces = 0;
  for (uint32_t block = laterBlock; block < blockCount; ++block)
    laterPlaces += blocks[block].records;
  P* const later = end - laterPlaces;
  uint32_t laterKey = 0;  // counted from 0
  std::thread laterHalf;
  if (laterBlock > unindexed_.block && adding >= kLeastSharedPlaces) {
    try {
      laterHalf = std::thread([=, &laterKey] {
        laterKey = writePlaces(blocks, laterBlock, 0, blockCount, 0, later);
        sortByInsertion(later, end, ordered, sortCost(laterPlaces));
      });
    } catch (const std::system_error&) {
      // No thread to spare: this one writes every place.
    }
  }
  const uint32_t earlierEnd = laterHalf.joinable() ? laterBlock : blockCount;
  uint32_t key = writePlaces(blocks, unindexed_.block, unindexed_.offset, earlierEnd, unindexedKey_,
                             places + indexed);
  if (laterHalf.joinable()) {
    // The earlier half is sorted meanwhile, as the later one is there.
    sortByInsertion(places + indexed, later, ordered, sortCost(adding - laterPlaces));
    laterHalf.join();
    addToKeys(later, end, key);
    key += laterKey;
  }
  // The last block may still grow: the next index goes on from its end.
  unindexed_.block = blockCount - 1;
  unindexed_.offset = static_cast<uint32_t>(blocks[blockCount - 1].used);
  unindexedKey_ = key;
  indexedCount_ += adding;
  places_.size += adding;
  if (!sortByInsertion(places, end, ordered, sortCost(places_.size))) {
    std::sort(places, end, ordered);
  }
  auto sameKey = [](const P& a, const P& b) { return keyOf(a) == keyOf(b); };
  places_.size = static_cast<size_t>(std::unique(places, end, sameKey) - places);
}

void TradeStore::widen() {
  PlaceIndex wide;
  wide.wide = true;
  wide.reserve<Place>(places_.size);
  const PackedPlace* const packed = places_.begin<PackedPlace>();
  Place* const places = wide.begin<Place>();
  for (size_t i = 0; i < places_.size; ++i) {
    places[i] = Place{keyOf(packed[i]), blockOf(packed[i]), offsetOf(packed[i])};
  }
  wide.size = places_.size;
  places_ = std::move(wide);
}

template <typename P>
void TradeStore::PlaceIndex::reserve(size_t count) {
  if (count <= memory.size() / sizeof(P)) return;
  platform::LargeBlock grown(count * sizeof(P));
  if (size != 0) std::memcpy(grown.data(), memory.data(), size * sizeof(P));
  memory = std::move(grown);
}
