#include "intake/repeated_texts.h"

#include <cstring>

namespace {

// A text's slot, from its length and its first and last eight bytes: for
// the short texts coded these are most or all of their bytes.
int slotOf(std::string_view text) {
  uint64_t head = 0;
  uint64_t tail = 0;
  const size_t size = text.size();
  if (size >= sizeof head) {
    std::memcpy(&head, text.data(), sizeof head);
    std::memcpy(&tail, text.data() + size - sizeof tail, sizeof tail);
  } else {
    std::memcpy(&head, text.data(), size);
  }
  const uint64_t mixed = (head ^ (tail * 0x9E3779B97F4A7C15u) ^ size) * 0xFF51AFD7ED558CCDu;
  return static_cast<int>(mixed >> 56);
}

}  // namespace

int RepeatedTexts::codeOf(std::string_view text, uint64_t* entered) {
  if (!lookingUp_ || text.empty() || text.size() > kMaxCodedBytes) return -1;
  const int slot = slotOf(text);
  int code = -1;
  if (taken_[slot]) {
    if (slots_[slot] == text) code = slot;
  } else {
    slots_[slot].assign(text);
    taken_[slot] = true;
    *entered += sizeof slots_[slot] + text.size();
    code = slot;
  }
  if (lookups_ < kTrialLookups) {
    ++lookups_;
    if (code >= 0) ++coded_;
    if (lookups_ == kTrialLookups && coded_ * 8 < lookups_ * kEighthsToKeep) lookingUp_ = false;
  }
  return code;
}

void RepeatedTexts::clear() {
  for (int slot = 0; slot < kSlots; ++slot) {
    slots_[slot].clear();
    taken_[slot] = false;
  }
  lookups_ = 0;
  coded_ = 0;
  lookingUp_ = true;
}
