// What the intake's filters turned away, told by count, so that a run that
// keeps no trade can say why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// The statuses of trades that a status filter turned away, each with its
// count. A day's trades have a handful of statuses; the first kSlots
// distinct ones are counted one by one, any further ones together, so that
// the tally stays small however many rows come.
class StatusTally {
 public:
  static constexpr int kSlots = 16;

  struct Entry {
    int32_t status;
    uint64_t trades;
  };

  // One more trade of `status`.
  void add(int32_t status) {
    for (int slot = 0; slot < used_; ++slot) {
      if (entries_[slot].status == status) {
        ++entries_[slot].trades;
        return;
      }
    }
    addNew(status);
  }

  // The statuses counted one by one, in the order they first came.
  const Entry* begin() const { return entries_; }
  const Entry* end() const { return entries_ + used_; }
  // Trades of the statuses beyond the first kSlots.
  uint64_t otherTrades() const { return otherTrades_; }
  // Every trade counted.
  uint64_t trades() const;

 private:
  void addNew(int32_t status);

  Entry entries_[kSlots] = {};
  int used_ = 0;
  uint64_t otherTrades_ = 0;
};

// Written by the intake on the notification thread, row by row; a plain
// value with no allocation of its own, so that it can be copied at any time
// (and never runs out of memory) for the driver to read.
struct FilterTally {
  // The longest firm code a run reads, and so the longest name of another
  // case of it.
  static constexpr size_t kMostNameBytes = 255;

  // Rows of which neither init_name nor conf_name is the firm code, but one
  // of them is the code in another case (ASCII letters only).
  uint64_t otherCaseTrades = 0;
  // The first such name as the trade spells it, and whether a later trade
  // spelt it in yet another way.
  char otherCaseName[kMostNameBytes] = {};
  size_t otherCaseLength = 0;
  bool otherCaseSpellings = false;

  // The statuses of the firm's trades (every trade's, with no firm code)
  // that the status filter turned away: [0] of the trades that trade_status
  // applies to, [1] of the repo trades, for repotrade_status.
  StatusTally statuses[2];

  // One more row naming the firm as `name`, in another case.
  void countOtherCase(std::string_view name);
  std::string_view firstOtherCaseName() const { return {otherCaseName, otherCaseLength}; }
};
