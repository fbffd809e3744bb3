#include "intake/store/packed_record.h"

#include <cstring>

namespace {

// The numbers before the texts: the key and the row's ID as differences,
// the status, the trade moment's six printed fields and the delivery date's
// three.
constexpr size_t kHeaderNumbers = 12;

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

// The key is kept as its difference from the key before, and the row's ID
// as its difference from the key, folded so that a small difference either
// way is a small number: revisions come nearly in order, and a row's place
// in the table and its revision usually keep close. The delivery date's year is
// kept as its difference in bits from the trade moment's, usually none.
uint32_t foldedDifference(uint32_t value, uint32_t from) {
  const uint32_t difference = value - from;
  return (difference << 1) ^ (0u - (difference >> 31));
}

uint32_t unfoldedDifference(uint32_t folded) { return (folded >> 1) ^ (0u - (folded & 1)); }

uint16_t field(size_t number) { return static_cast<uint16_t>(number); }

}  // namespace

size_t recordBytesAtMost(const KeptTrade& line) {
  // A number or tag of 64 bits takes at most 10 groups of 7.
  constexpr size_t kMostTagBytes = 10;
  size_t body = (kHeaderNumbers + kKeptTextCount) * kMostTagBytes;
  for (const std::string_view text : line.texts) body += text.size();
  return tagBytes(body) + body;
}

char* packRecord(char* at, uint32_t key, uint32_t previousKey, const KeptTrade& line,
                 RepeatedTexts* repeated, uint64_t* entered) {
  // The record's length is known only once it is written: the rest is
  // written after room for a length of one byte, which most records have,
  // and moved along for a longer one.
  char* const body = at + 1;
  char* out = body;
  const DateTimeValue& m = line.tradeMoment;
  const DateTimeValue& d = line.deliveryDate;
  const size_t numbers[kHeaderNumbers] = {foldedDifference(key, previousKey),
                                          foldedDifference(static_cast<uint32_t>(line.rowID), key),
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
  for (const size_t number : numbers) out = storeTag(out, number);
  for (int column = 0; column < kKeptTextCount; ++column) {
    const std::string_view text = line.texts[column];
    const int code = repeated[column].codeOf(text, entered);
    if (code >= 0) {
      out = storeTag(out, size_t(code) * 2 + 1);
    } else {
      out = storeTag(out, text.size() * 2);
      if (!text.empty()) out = storeBytes(out, text.data(), text.size());
    }
  }
  const auto length = static_cast<size_t>(out - body);
  const size_t lengthBytes = tagBytes(length);
  if (lengthBytes > 1) std::memmove(body + lengthBytes - 1, body, length);
  storeTag(at, length);
  return at + lengthBytes + length;
}

uint32_t recordKey(const char* record, uint32_t previousKey) {
  size_t ignored = 0;
  size_t difference = 0;
  loadTag(loadTag(record, &ignored), &difference);
  return previousKey + unfoldedDifference(static_cast<uint32_t>(difference));
}

const char* readRecord(const char* at, uint32_t key, const RepeatedTexts* repeated,
                       KeptTrade* line) {
  size_t n[kHeaderNumbers];
  at = loadTag(at, &n[0]);  // the length
  for (size_t& number : n) at = loadTag(at, &number);
  line->rowID = static_cast<int32_t>(key + unfoldedDifference(static_cast<uint32_t>(n[1])));
  line->status = static_cast<int32_t>(static_cast<uint32_t>(n[2]));
  line->tradeMoment = DateTimeValue{field(n[3]), field(n[4]), 0,           field(n[5]),
                                    field(n[6]), field(n[7]), field(n[8]), 0};
  line->deliveryDate = DateTimeValue{
      static_cast<uint16_t>(field(n[9]) ^ field(n[3])), field(n[10]), 0, field(n[11]), 0, 0, 0, 0};
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
  size_t length = 0;
  at = loadTag(at, &length);
  return at + length;
}
