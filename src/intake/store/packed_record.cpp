#include "intake/store/packed_record.h"

#include <cstring>

namespace {

constexpr size_t kHeaderNumbers = RecordLayout::kHeaderNumbers;

// Copies `bytes` of `value` to `at`; returns the end of the copy.
char* storeBytes(char* at, const void* value, size_t bytes) {
  std::memcpy(at, value, bytes);
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

// The row's ID is kept as its difference from the key, folded so that a
// small difference either way is a small number: a row's place in the
// table and its revision usually keep close. The delivery date's year is
// kept as its difference in bits from the trade moment's, usually none.
uint32_t foldedDifference(uint32_t rowID, uint32_t key) {
  const uint32_t difference = rowID - key;
  return (difference << 1) ^ (0u - (difference >> 31));
}

uint32_t unfoldedDifference(uint32_t folded) { return (folded >> 1) ^ (0u - (folded & 1)); }

uint16_t field(size_t number) { return static_cast<uint16_t>(number); }

}  // namespace

RecordLayout layOutRecord(uint32_t key, const KeptTrade& line, RepeatedTexts* repeated,
                          uint64_t* entered) {
  RecordLayout layout;
  const DateTimeValue& m = line.tradeMoment;
  const DateTimeValue& d = line.deliveryDate;
  const size_t numbers[kHeaderNumbers] = {foldedDifference(static_cast<uint32_t>(line.rowID), key),
                                          static_cast<uint32_t>(line.status),
                                          m.year,
                                          m.month,
                                          m.day,
                                          m.hour,
                                          m.minute,
                                          m.second,
                                          static_cast<uint16_t>(d.year ^ m.year),
                                          d.month,
                                          d.day};
  layout.bytes = sizeof key;
  for (size_t i = 0; i < kHeaderNumbers; ++i) {
    layout.numbers[i] = numbers[i];
    layout.bytes += tagBytes(numbers[i]);
  }
  for (int column = 0; column < kKeptTextCount; ++column) {
    const std::string_view text = line.texts[column];
    const int code = repeated[column].codeOf(text, entered);
    layout.tags[column] = code >= 0 ? size_t(code) * 2 + 1 : text.size() * 2;
    layout.bytes += tagBytes(layout.tags[column]) + (code >= 0 ? 0 : text.size());
  }
  return layout;
}

char* writeRecord(char* at, uint32_t key, const KeptTrade& line, const RecordLayout& layout) {
  at = storeBytes(at, &key, sizeof key);
  for (const size_t number : layout.numbers) at = storeTag(at, number);
  for (int column = 0; column < kKeptTextCount; ++column) {
    at = storeTag(at, layout.tags[column]);
    if ((layout.tags[column] & 1) == 0 && !line.texts[column].empty()) {
      at = storeBytes(at, line.texts[column].data(), line.texts[column].size());
    }
  }
  return at;
}

uint32_t recordKey(const char* record) {
  uint32_t key;
  std::memcpy(&key, record, sizeof key);
  return key;
}

const char* readRecord(const char* at, const RepeatedTexts* repeated, KeptTrade* line) {
  const uint32_t key = recordKey(at);
  at += sizeof key;
  size_t n[kHeaderNumbers];
  for (size_t& number : n) at = loadTag(at, &number);
  line->rowID = static_cast<int32_t>(key + unfoldedDifference(static_cast<uint32_t>(n[0])));
  line->status = static_cast<int32_t>(static_cast<uint32_t>(n[1]));
  line->tradeMoment = DateTimeValue{field(n[2]), field(n[3]), 0,           field(n[4]),
                                    field(n[5]), field(n[6]), field(n[7]), 0};
  line->deliveryDate = DateTimeValue{
      static_cast<uint16_t>(field(n[8]) ^ field(n[2])), field(n[9]), 0, field(n[10]), 0, 0, 0, 0};
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

const char* skipRecord(const char* at) {
  at += sizeof(uint32_t);
  size_t ignored = 0;
  for (size_t i = 0; i < kHeaderNumbers; ++i) at = loadTag(at, &ignored);
  for (int column = 0; column < kKeptTextCount; ++column) {
    size_t tag = 0;
    at = loadTag(at, &tag);
    if ((tag & 1) == 0) at += tag >> 1;
  }
  return at;
}
