#include "intake/trade_store.h"

#include <algorithm>
#include <cstring>

namespace {

// Texts are packed one after the other, each after its length in 7-bit
// groups, low group first, the top bit set on all but the last group.
constexpr size_t kBlockBytes = 1 << 20;
constexpr size_t kMaxLengthBytes = 10;

char* putLength(char* at, size_t length) {
  while (length >= 0x80) {
    *at++ = static_cast<char>(length | 0x80);
    length >>= 7;
  }
  *at++ = static_cast<char>(length);
  return at;
}

const char* getLength(const char* at, size_t* length) {
  size_t value = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*at++);
    value |= static_cast<size_t>(byte & 0x7f) << shift;
    if (byte < 0x80) break;
  }
  *length = value;
  return at;
}

}  // namespace

void TradeStore::add(uint32_t key, const TradeLine& line) {
  size_t bytes = 0;
  for (std::string_view text : line.texts) bytes += text.size() + kMaxLengthBytes;
  MutexLock lock(mutex_);
  Entry& entry = entries_.emplace_back();
  entry.key = key;
  entry.rowID = line.rowID;
  entry.status = line.status;
  const DateTimeValue& moment = line.tradeMoment;
  const uint16_t momentFields[6] = {moment.year, moment.month,  moment.day,
                                    moment.hour, moment.minute, moment.second};
  std::memcpy(entry.tradeMoment, momentFields, sizeof momentFields);
  const DateTimeValue& delivery = line.deliveryDate;
  const uint16_t deliveryFields[3] = {delivery.year, delivery.month, delivery.day};
  std::memcpy(entry.deliveryDate, deliveryFields, sizeof deliveryFields);
  char* at = reserveText(bytes, &entry);
  char* const start = at;
  for (std::string_view text : line.texts) {
    at = putLength(at, text.size());
    if (!text.empty()) std::memcpy(at, text.data(), text.size());
    at += text.size();
  }
  blocks_.back().used += static_cast<size_t>(at - start);
}

char* TradeStore::reserveText(size_t bytes, Entry* entry) {
  if (blocks_.empty() || blocks_.back().size - blocks_.back().used < bytes) {
    Block& block = blocks_.emplace_back();
    block.size = std::max(bytes, kBlockBytes);
    block.bytes = std::make_unique_for_overwrite<char[]>(block.size);
  }
  Block& block = blocks_.back();
  entry->block = static_cast<uint32_t>(blocks_.size() - 1);
  entry->offset = static_cast<uint32_t>(block.used);
  return block.bytes.get() + block.used;
}

void TradeStore::clear() {
  MutexLock lock(mutex_);
  entries_.clear();
  blocks_.clear();
  ordered_ = 0;
}

size_t TradeStore::size() {
  MutexLock lock(mutex_);
  order();
  return entries_.size();
}

void TradeStore::walk(const std::function<void(uint32_t, const TradeLine&)>& visit) {
  MutexLock lock(mutex_);
  order();
  for (const Entry& entry : entries_) visit(entry.key, lineOf(entry));
}

// Stable throughout, so among entries of one key the first added comes first:
// the ordered part precedes everything added after it, and the part added
// since keeps its order of arrival.
void TradeStore::order() {
  if (ordered_ == entries_.size()) return;
  auto byKey = [](const Entry& a, const Entry& b) { return a.key < b.key; };
  const auto added = entries_.begin() + static_cast<std::ptrdiff_t>(ordered_);
  // Tables usually come in revision order; then there is nothing to sort.
  if (!std::is_sorted(added, entries_.end(), byKey)) std::stable_sort(added, entries_.end(), byKey);
  if (ordered_ != 0 && added[0].key < added[-1].key) {
    std::inplace_merge(entries_.begin(), added, entries_.end(), byKey);
  }
  auto sameKey = [](const Entry& a, const Entry& b) { return a.key == b.key; };
  entries_.erase(std::unique(entries_.begin(), entries_.end(), sameKey), entries_.end());
  ordered_ = entries_.size();
}

TradeLine TradeStore::lineOf(const Entry& entry) const {
  TradeLine line;
  line.rowID = entry.rowID;
  line.status = entry.status;
  const uint16_t* m = entry.tradeMoment;
  line.tradeMoment = DateTimeValue{m[0], m[1], 0, m[2], m[3], m[4], m[5], 0};
  const uint16_t* d = entry.deliveryDate;
  line.deliveryDate = DateTimeValue{d[0], d[1], 0, d[2], 0, 0, 0, 0};
  const char* at = blocks_[entry.block].bytes.get() + entry.offset;
  for (std::string_view& text : line.texts) {
    size_t length = 0;
    at = getLength(at, &length);
    text = std::string_view(at, length);
    at += length;
  }
  return line;
}
