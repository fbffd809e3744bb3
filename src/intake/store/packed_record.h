// The form a kept trade takes in the store's blocks: one record of numbers
// and texts, packed after the one before, with no allocation of its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "intake/kept_trade.h"
#include "intake/store/repeated_texts.h"

// A record: the key, then the row's ID and status, the six printed fields of
// the trade moment and the three of the delivery date as numbers, then the
// line's texts, each as a tag. Numbers and tags are written in 7-bit groups,
// low group first, the top bit set on all but the last group, so that the
// small numbers of a date take a byte each. A text of its column's repeated
// texts has the tag code * 2 + 1; any other text the tag length * 2,
// followed by its bytes.
struct RecordLayout {
  static constexpr size_t kHeaderNumbers = 11;
  size_t numbers[kHeaderNumbers];
  size_t tags[kKeptTextCount];
  size_t bytes = 0;  // the whole record's
};

// The numbers, tags and size of the record of `line` under `key`, whose texts are looked up in
// (and, when new, entered into) `repeated`, one per text column; *entered
// grows by the bytes the newly entered texts take.
RecordLayout layOutRecord(uint32_t key, const KeptTrade& line, RepeatedTexts* repeated,
                          uint64_t* entered);

// Writes the record of `line` under `key` as laid out, at `at` (room for
// layout.bytes); returns its end.
char* writeRecord(char* at, uint32_t key, const KeptTrade& line, const RecordLayout& layout);

// The key of the record at `record`.
uint32_t recordKey(const char* record);

// Reads the record at `at` into *line; returns where the next one begins.
const char* readRecord(const char* at, const RepeatedTexts* repeated, KeptTrade* line);

// Where the record at `at` ends, its texts not looked at.
const char* skipRecord(const char* at);
