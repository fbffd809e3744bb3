// The form a kept trade takes in the store's blocks: one record of numbers
// and texts, packed after the one before, with no allocation of its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include "intake/kept_trade.h"
#include "intake/store/repeated_texts.h"

// A record: its length (the bytes after that number), its key as the
// difference from the key of the record added before it (the first: from
// 0), then the row's ID and status, the six printed fields of the trade
// moment and the three of the delivery date as numbers, then the line's
// texts, each as a tag. Numbers and tags are written in 7-bit groups, low
// group first, the top bit set on all but the last group, so that the small
// numbers of a date take a byte each. A text of its column's repeated texts
// has the tag code * 2 + 1; any other text the tag length * 2, followed by
// its bytes. The length lets the index step from record to record without
// reading their numbers and tags; the key's difference is usually one byte
// where the key itself took four.
// The most bytes the record of `line` can take, whatever codes its texts
// get.
size_t recordBytesAtMost(const KeptTrade& line);

// Writes the record of `line` under `key`, coming after a record under
// `previousKey` (0 for the first record), at `at`, which has room for
// recordBytesAtMost(line); returns its end. Its texts are looked up in
// (and, when new, entered into) `repeated`, one per text column; *entered
// grows by the bytes the newly entered texts take.
char* packRecord(char* at, uint32_t key, uint32_t previousKey, const KeptTrade& line,
                 RepeatedTexts* repeated, uint64_t* entered);

// The key of the record at `record`, which comes after a record under
// `previousKey` (0 for the first record).
uint32_t recordKey(const char* record, uint32_t previousKey);

// Reads the record at `at`, whose key is `key`, into *line; returns where
// the next one begins.
const char* readRecord(const char* at, uint32_t key, const RepeatedTexts* repeated,
                       KeptTrade* line);

// Where the record at `at` ends, its numbers and texts not looked at.
const char* skipRecord(const char* at);

// Asks the processor to start loading the record at `at` into its caches,
// for a read soon after; where the compiler has no such request, nothing.
inline void prefetchRecord(const char* at) {
#if defined(__GNUC__) || defined(__clang__)
  // A record is seldom longer than a cache line, but seldom within one.
  __builtin_prefetch(at);
  __builtin_prefetch(at + 63);
#else
  static_cast<void>(at);
#endif
}
