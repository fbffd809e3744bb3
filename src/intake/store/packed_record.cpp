#include "intake/store/packed_record.h"

#include <cstring>

namespace {

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

}  // namespace

RecordLayout layOutRecord(const KeptTrade& line, RepeatedTexts* repeated, uint64_t* entered) {
  RecordLayout layout;
  layout.bytes = kHeaderBytes;
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
  at = storeBytes(at, &line.rowID, sizeof line.rowID);
  at = storeBytes(at, &line.status, sizeof line.status);
  const DateTimeValue& m = line.tradeMoment;
  const uint16_t moment[kMomentFields] = {m.year, m.month, m.day, m.hour, m.minute, m.second};
  at = storeBytes(at, moment, sizeof moment);
  const DateTimeValue& d = line.deliveryDate;
  const uint16_t delivery[kDateFields] = {d.year, d.month, d.day};
  at = storeBytes(at, delivery, sizeof delivery);
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

const char* skipRecord(const char* at) {
  at += kHeaderBytes;
  for (int column = 0; column < kKeptTextCount; ++column) {
    size_t tag = 0;
    at = loadTag(at, &tag);
    if ((tag & 1) == 0) at += tag >> 1;
  }
  return at;
}
