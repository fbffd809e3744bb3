#include "intake/trade_store.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <thread>
#include <utility>

#include "intake/store/packed_record.h"

namespace {

constexpr size_t kBlockBytes = 4u << 20;

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

// Writes once to every page of a stretch of memory on a thread of its own,
// so that the system maps them while the thread that asked writes
// elsewhere; that thread writes to the stretch only after join(). A fresh
// page costs more to map than the index spends writing it.
class PagesMadeReady {
 public:
  PagesMadeReady(char* begin, char* end) {
    if (end - begin < kLeastBytes) return;
    try {
      thread_ = std::thread([begin, end] {
        for (volatile char* at = begin; at < end; at += kPageBytes) *at = 0;
      });
    } catch (const std::system_error&) {
      // No thread to spare: the pages are mapped as they are written.
    }
  }
  ~PagesMadeReady() { join(); }
  PagesMadeReady(const PagesMadeReady&) = delete;
  PagesMadeReady& operator=(const PagesMadeReady&) = delete;
  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  // The smallest page size of the platforms served; writing once per such
  // stretch reaches every page, large or small.
  static constexpr size_t kPageBytes = 4096;
  // Less is mapped sooner than a thread is started.
  static constexpr ptrdiff_t kLeastBytes = 1 << 20;
  std::thread thread_;
};

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
  uint64_t entered = 0;
  const RecordLayout layout = layOutRecord(key, lastKey_, line, repeated_, &entered);
  counted_ += entered;
  // Counted before any memory is taken: a record too large for the limit
  // never reaches the blocks.
  const uint64_t counted = uint64_t{layout.bytes} + sizeof(Place);
  if (counted > limit_ || counted_ > limit_ - counted) return false;
  char* const start = reserve(layout.bytes);
  counted_ += counted;
  char* const at = writeRecord(start, line, layout);
  Block& block = blocks_.back();
  block.used += static_cast<size_t>(at - start);
  if (block.used > supply_.blockBytes() / 2) supply_.prepareNext();
  if (count_ != 0 && key <= lastKey_) ascending_ = false;
  lastKey_ = key;
  ++count_;
  return true;
}

char* TradeStore::reserve(size_t bytes) {
  // A block larger than the usual size holds its one large record only,
  // so that every record of a usual block lies within its usual size.
  if (blocks_.empty() || blocks_.back().memory.size() > supply_.blockBytes() ||
      blocks_.back().memory.size() - blocks_.back().used < bytes) {
    Block& block = blocks_.emplace_back();
    block.memory = supply_.take(bytes);
  }
  Block& block = blocks_.back();
  return block.memory.data() + block.used;
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

template <typename P>
void TradeStore::indexAs() {
  const size_t indexed = places_.size;
  const size_t adding = count_ - indexedCount_;
  if (unindexed_.block < blocks_.size()) places_.reserve<P>(indexed + adding);
  P* const places = places_.begin<P>();
  // The pages of the later half of the new places are mapped beside the
  // writing of the earlier half.
  const size_t laterHalf = indexed + adding / 2;
  PagesMadeReady ready(reinterpret_cast<char*>(places + laterHalf),
                       reinterpret_cast<char*>(places) + places_.memory.size());
  for (; unindexed_.block < blocks_.size(); ++unindexed_.block, unindexed_.offset = 0) {
    const Block& block = blocks_[unindexed_.block];
    while (unindexed_.offset != block.used) {
      const char* record = block.memory.data() + unindexed_.offset;
      unindexedKey_ = recordKey(record, unindexedKey_);
      if (places_.size == laterHalf) ready.join();
      places[places_.size++] = placeOf<P>(unindexedKey_, unindexed_.block, unindexed_.offset);
      ++indexedCount_;
      unindexed_.offset = static_cast<uint32_t>(skipRecord(record) - block.memory.data());
    }
    // The last block may still grow: the next index goes on from here.
    if (unindexed_.block + 1 == blocks_.size()) break;
  }
  if (places_.size == indexed) return;
  P* const end = places + places_.size;
  auto ordered = [](const P& a, const P& b) { return before(a, b); };
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
