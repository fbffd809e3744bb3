// The short texts of one column that repeat from trade to trade, each kept
// once and named by a small code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Most of a trade's texts repeat: the issue, the currency, the clearing and
// type codes, the firms of a pair, often the price and the quantity. The
// store keeps such a text once here and a one- or two-byte code in each
// record. Each text has one slot, chosen by its bytes; the first text to
// reach a free slot keeps it, and one that finds its slot taken by another
// text is simply not coded. A column whose texts mostly don't repeat (memos,
// references) soon stops being looked up at all, so it costs next to
// nothing.
//
// Not thread-safe: used under the store's lock.
class RepeatedTexts {
 public:
  static constexpr int kSlotBits = 10;
  static constexpr int kSlots = 1 << kSlotBits;
  // Longer texts are never coded: their copy in the record costs less than
  // comparing them trade after trade.
  static constexpr size_t kMaxCodedBytes = 32;

  // The code of `text`, entering it in its free slot (*entered then grows by
  // the bytes it takes); -1 when it is not coded. Inline, so that the texts
  // of a column no longer looked up, and empty ones, cost no call.
  int codeOf(std::string_view text, uint64_t* entered) {
    if (!lookingUp_ || text.empty() || text.size() > kMaxCodedBytes) return -1;
    return lookUp(text, entered);
  }

  // The text of a code that codeOf() gave; it stays in place until clear().
  std::string_view text(int code) const { return texts_[code]; }

  // Forgets every text; codes given before mean nothing after.
  void clear();

 private:
  // codeOf() for a text of 1 to kMaxCodedBytes bytes while looking up.
  int lookUp(std::string_view text, uint64_t* entered);

  // Lookups before a column is judged, and the share of them (in 1/8) that
  // must find their text coded for the column to go on being looked up.
  static constexpr uint32_t kTrialLookups = 4096;
  static constexpr uint32_t kEighthsToKeep = 4;

  // Per slot, its text's length and first and last eight bytes, which tell
  // a text of at most 16 bytes whole and are what a lookup reads, apart
  // from the texts themselves, so that the lookups of every column stay in
  // the processor's caches.
  uint64_t heads_[kSlots] = {};
  uint64_t tails_[kSlots] = {};
  uint8_t sizes_[kSlots] = {};  // 0: free
  std::string texts_[kSlots];
  uint32_t lookups_ = 0;
  uint32_t coded_ = 0;
  bool lookingUp_ = true;
};
