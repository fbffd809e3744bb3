#include "intake/filter_tally.h"

#include <cstring>

uint64_t StatusTally::trades() const {
  uint64_t all = otherTrades_;
  for (const Entry& entry : *this) all += entry.trades;
  return all;
}

void StatusTally::addNew(int32_t status) {
  if (used_ == kSlots) {
    ++otherTrades_;
    return;
  }
  entries_[used_++] = Entry{status, 1};
}

void FilterTally::countOtherCase(std::string_view name) {
  if (otherCaseTrades++ == 0) {
    otherCaseLength = name.size() < kMostNameBytes ? name.size() : kMostNameBytes;
    if (otherCaseLength != 0) std::memcpy(otherCaseName, name.data(), otherCaseLength);
  } else if (name != firstOtherCaseName()) {
    otherCaseSpellings = true;
  }
}
