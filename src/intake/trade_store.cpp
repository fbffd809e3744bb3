#include "intake/trade_store.h"

#include <algorithm>
#include <cstring>

namespace {

// A record: the key, the row's ID and status, the six printed fields of the
// trade moment and the three of the delivery date, then the line's texts,
// each as a tag in 7-bit groups, low group first, the top bit set on all but
// the last group: a text of its column's repeated texts has the tag
// code * 2 + 1; any other text the tag length * 2, followed by its bytes.
constexpr size_t kBlockBytes = 16u << 20;
constexpr size_t kMomentFields = 6;
constexpr size_t kDateFields = 3;
constexpr size_t kHeaderBytes = 3 * sizeof(uint32_t) + (kMomentFields + kDateFields) * 2;

// Copies `bytes` of `value` to `at`; returns the end of the copy.
char* storeBytes(char* at, const void* value, size_t bytes) {
  std::memcpy(at, value, bytes);
  return at + bytes;
}

// Copies `bytes` at `at` to `value`; returns the end of what was read.
const char* loadBytes(const char* at, void* value, size_t bytes) {
  std::memcpy(value, at, bytes);
  return at + bytes;
}

char* storeTag(char* at, size_t tag) {
  while (tag >= 0x80) {
    *at++ = static_cast<char>(tag | 0x80);
    tag >>= 7;
  }
  *at++ = static_cast<char>(tag);
  return at;
}

size_t tagBytes(size_t tag) {
  size_t bytes = 1;
  for (; tag >= 0x80; tag >>= 7) ++bytes;
  return bytes;
}

const char* loadTag(const char* at, size_t* tag) {
  size_t value = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*at++);
    value |= static_cast<size_t>(byte & 0x7f) << shift;
    if (byte < 0x80) break;
  }
  *tag = value;
  return at;
}

uint32_t keyOf(const char* record) {
  uint32_t key;
  std::memcpy(&key, record, sizeof key);
  return key;
}

// Reads the record at `at` into *line; returns where the next one begins.
const char* readRecord(const char* at, const RepeatedTexts* repeated, KeptTrade* line) {
  uint32_t key;
  at = loadBytes(at, &key, sizeof key);
  at = loadBytes(at, &line->rowID, sizeof line->rowID);
  at = loadBytes(at, &line->status, sizeof line->status);
  uint16_t m[kMomentFields];
  at = loadBytes(at, m, sizeof m);
  line->tradeMoment = DateTimeValue{m[0], m[1], 0, m[2], m[3], m[4], m[5], 0};
  uint16_t d[kDateFields];
  at = loadBytes(at, d, sizeof d);
  line->deliveryDate = DateTimeValue{d[0], d[1], 0, d[2], 0, 0, 0, 0};
  for (int column = 0; column < kKeptTextCount; ++column) {
    size_t tag = 0;
    at = loadTag(at, &tag);
    if (tag & 1) {
      line->texts[column] = repeated[column].text(static_cast<int>(tag >> 1));
    } else {
      line->texts[column] = std::string_view(at, tag >> 1);
      at += tag >> 1;
    }
  }
  return at;
}

// Where the record at `at` ends, its texts not looked at.
const char* skipRecord(const char* at) {
  at += kHeaderBytes;
  for (int column = 0; column < kKeptTextCount; ++column) {
    size_t tag = 0;
    at = loadTag(at, &tag);
    if ((tag & 1) == 0) at += tag >> 1;
  }
  return at;
}

}  // namespace

TradeStore::TradeStore() : supply_(kBlockBytes) {}

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
  size_t tags[kKeptTextCount];
  size_t bytes = kHeaderBytes;
  uint64_t entered = 0;
  for (int column = 0; column < kKeptTextCount; ++column) {
    const std::string_view text = line.texts[column];
    const int code = repeated_[column].codeOf(text, &entered);
    tags[column] = code >= 0 ? size_t(code) * 2 + 1 : text.size() * 2;
    bytes += tagBytes(tags[column]) + (code >= 0 ? 0 : text.size());
  }
  counted_ += entered;
  // Counted before any memory is taken: a record too large for the limit
  // never reaches the blocks.
  const uint64_t counted = uint64_t{bytes} + sizeof(Place);
  if (counted > limit_ || counted_ > limit_ - counted) return false;
  char* const start = reserve(bytes);
  counted_ += counted;
  char* at = storeBytes(start, &key, sizeof key);
  at = storeBytes(at, &line.rowID, sizeof line.rowID);
  at = storeBytes(at, &line.status, sizeof line.status);
  const DateTimeValue& m = line.tradeMoment;
  const uint16_t moment[kMomentFields] = {m.year, m.month, m.day, m.hour, m.minute, m.second};
  at = storeBytes(at, moment, sizeof moment);
  const DateTimeValue& d = line.deliveryDate;
  const uint16_t delivery[kDateFields] = {d.year, d.month, d.day};
  at = storeBytes(at, delivery, sizeof delivery);
  for (int column = 0; column < kKeptTextCount; ++column) {
    at = storeTag(at, tags[column]);
    if ((tags[column] & 1) == 0 && !line.texts[column].empty()) {
      at = storeBytes(at, line.texts[column].data(), line.texts[column].size());
    }
  }
  Block& block = blocks_.back();
  block.used += static_cast<size_t>(at - start);
  if (block.used > supply_.blockBytes() / 2) supply_.prepareNext();
  if (count_ != 0 && key <= lastKey_) ascending_ = false;
  lastKey_ = key;
  ++count_;
  return true;
}

char* TradeStore::reserve(size_t bytes) {
  if (blocks_.empty() || blocks_.back().memory.size() - blocks_.back().used < bytes) {
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
  places_.clear();
  unindexed_ = Place{0, 0, 0};
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
  return places_.size();
}

void TradeStore::walk(const std::function<void(uint32_t, const KeptTrade&)>& visit,
                      const std::function<void()>& end) {
  platform::MutexLock lock(mutex_);
  KeptTrade line;
  if (ascending_) {
    for (const Block& block : blocks_) {
      const char* at = block.memory.data();
      const char* const end = at + block.used;
      while (at != end) {
        const uint32_t key = keyOf(at);
        at = readRecord(at, repeated_, &line);
        visit(key, line);
      }
    }
  } else {
    index();
    for (const Place& place : places_) {
      readRecord(recordAt(place), repeated_, &line);
      visit(place.key, line);
    }
  }
  if (end) end();
}

// Stable throughout, so among records of one key the first added comes
// first: the indexed part precedes everything added after it, and the part
// added since keeps its order of arrival.
void TradeStore::index() {
  const size_t indexed = places_.size();
  for (; unindexed_.block < blocks_.size(); ++unindexed_.block, unindexed_.offset = 0) {
    const Block& block = blocks_[unindexed_.block];
    while (unindexed_.offset != block.used) {
      const char* record = block.memory.data() + unindexed_.offset;
      places_.push_back(Place{keyOf(record), unindexed_.block, unindexed_.offset});
      unindexed_.offset = static_cast<uint32_t>(skipRecord(record) - block.memory.data());
    }
    // The last block may still grow: the next index goes on from here.
    if (unindexed_.block + 1 == blocks_.size()) break;
  }
  if (places_.size() == indexed) return;
  auto byKey = [](const Place& a, const Place& b) { return a.key < b.key; };
  const auto added = places_.begin() + static_cast<std::ptrdiff_t>(indexed);
  if (!std::is_sorted(added, places_.end(), byKey)) std::stable_sort(added, places_.end(), byKey);
  if (indexed != 0 && added[0].key < added[-1].key) {
    std::inplace_merge(places_.begin(), added, places_.end(), byKey);
  }
  auto sameKey = [](const Place& a, const Place& b) { return a.key == b.key; };
  places_.erase(std::unique(places_.begin(), places_.end(), sameKey), places_.end());
}
