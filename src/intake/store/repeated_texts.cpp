#include "intake/store/repeated_texts.h"

#include <cstring>

int RepeatedTexts::lookUp(std::string_view text, uint64_t* entered) {
  const size_t size = text.size();
  // The slot is chosen by, and a text first compared on, its length and two
  // numbers made of its first and last bytes, which for a text of at most
  // 16 bytes are all of its bytes.
  const char* const bytes = text.data();
  uint64_t head = 0;
  uint64_t tail = 0;
  if (size >= 8) {
    std::memcpy(&head, bytes, 8);
    std::memcpy(&tail, bytes + size - 8, 8);
  } else if (size >= 4) {
    uint32_t first = 0;
    uint32_t last = 0;
    std::memcpy(&first, bytes, 4);
    std::memcpy(&last, bytes + size - 4, 4);
    head = first | uint64_t{last} << 32;
  } else {
    head = static_cast<unsigned char>(bytes[0]) |
           static_cast<unsigned>(static_cast<unsigned char>(bytes[size / 2])) << 8 |
           static_cast<unsigned>(static_cast<unsigned char>(bytes[size - 1])) << 16;
  }
  const uint64_t mixed = (head ^ (tail * 0x9E3779B97F4A7C15u) ^ size) * 0xFF51AFD7ED558CCDu;
  const int slot = static_cast<int>(mixed >> (64 - kSlotBits));
  bool coded = true;
  if (sizes_[slot] == 0) {
    heads_[slot] = head;
    tails_[slot] = tail;
    sizes_[slot] = static_cast<uint8_t>(size);
    texts_[slot].assign(text);
    *entered += sizeof texts_[slot] + 2 * sizeof head + 1 + size;
  } else {
    coded = sizes_[slot] == size && heads_[slot] == head && tails_[slot] == tail &&
            (size <= 16 || std::memcmp(texts_[slot].data(), bytes, size) == 0);
  }
  if (lookups_ < kTrialLookups) {
    ++lookups_;
    if (coded) ++coded_;
    if (lookups_ == kTrialLookups && coded_ * 8 < lookups_ * kEighthsToKeep) lookingUp_ = false;
  }
  return coded ? slot : -1;
}

void RepeatedTexts::clear() {
  for (int slot = 0; slot < kSlots; ++slot) {
    heads_[slot] = 0;
    tails_[slot] = 0;
    sizes_[slot] = 0;
    texts_[slot].clear();
  }
  lookups_ = 0;
  coded_ = 0;
  lookingUp_ = true;
}
