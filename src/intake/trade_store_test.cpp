#include "intake/trade_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace {

// A trade of `rowID` whose memo, the initiator's, is `memo`, which must
// outlive the record.
TradeRecord tradeWith(int32_t rowID, std::string_view memo = {}) {
  TradeRecord record;
  record.rowID = rowID;
  record.init_memo = memo;
  return record;
}

// Files the trade as the intake does, seen from the initiator's side.
void add(TradeStore& store, uint32_t key, const TradeRecord& record) {
  ASSERT_TRUE(store.add(key, record, FirmSide::Initiator));
}

using Walked = std::vector<std::pair<uint32_t, int32_t>>;

Walked walked(TradeStore& store) {
  Walked keys;
  store.walk([&](uint32_t key, const KeptTrade& line) { keys.emplace_back(key, line.rowID); });
  return keys;
}

TEST(TradeStoreTest, AscendingUnsignedKeysFirstAddedPerKeyWins) {
  TradeStore store;
  for (auto [key, rowID] : Walked{{30, 1}, {7, 2}, {4294967295u, 3}, {12, 4}, {7, 5}, {0, 6}}) {
    add(store, key, tradeWith(rowID));
  }
  EXPECT_EQ(walked(store), (Walked{{0, 6}, {7, 2}, {12, 4}, {30, 1}, {4294967295u, 3}}));
  EXPECT_EQ(store.size(), 5u);
}

// Rows keep coming after a walk (the connection stays open): a later walk
// takes them in, and a key walked before keeps its first trade.
// A limit set before the trades come starts making the first block ready:
// the trades then go into it whole, the limit still holds, smaller trades
// that still fit follow a refused one, and a store that never receives a
// trade ends in order.
TEST(TradeStoreTest, LimitSetBeforeTheTrades) {
  {
    TradeStore unused;
    unused.setLimit(1u << 20);
  }
  TradeStore store;
  store.setLimit(1u << 20);
  const std::string memo(1000, 'm');
  size_t kept = 0;
  while (store.add(static_cast<uint32_t>(kept), tradeWith(static_cast<int32_t>(kept), memo),
                   FirmSide::Initiator)) {
    ++kept;
  }
  EXPECT_GT(kept, 900u);
  EXPECT_LT(kept, 1048u);
  // A smaller trade may still fit where the refused one was written.
  while (store.add(static_cast<uint32_t>(kept), tradeWith(-1), FirmSide::Initiator)) ++kept;
  size_t walkedMemos = 0;
  size_t walkedSmall = 0;
  store.walk([&](uint32_t, const KeptTrade& line) {
    walkedMemos += line.texts[kMemoText] == memo;
    walkedSmall += line.rowID == -1 && line.texts[kMemoText].empty();
  });
  EXPECT_GT(walkedSmall, 0u);
  EXPECT_EQ(walkedMemos + walkedSmall, kept);
}

TEST(TradeStoreTest, TradesAddedAfterAWalk) {
  TradeStore store;
  add(store, 5, tradeWith(1));
  add(store, 9, tradeWith(2));
  EXPECT_EQ(walked(store), (Walked{{5, 1}, {9, 2}}));
  add(store, 9, tradeWith(3));
  add(store, 1, tradeWith(4));
  add(store, 7, tradeWith(5));
  add(store, 1, tradeWith(6));
  EXPECT_EQ(walked(store), (Walked{{1, 4}, {5, 1}, {7, 5}, {9, 2}}));
  add(store, 10, tradeWith(7));
  EXPECT_EQ(walked(store), (Walked{{1, 4}, {5, 1}, {7, 5}, {9, 2}, {10, 7}}));
}

TEST(TradeStoreTest, ClearDiscardsEveryTrade) {
  TradeStore store;
  add(store, 5, tradeWith(1));
  EXPECT_EQ(walked(store).size(), 1u);
  add(store, 6, tradeWith(2));
  store.clear();
  EXPECT_TRUE(walked(store).empty());
  add(store, 5, tradeWith(3));
  EXPECT_EQ(walked(store), (Walked{{5, 3}}));
}

// The texts a line joins are built in one place per store and copied out.
TEST(TradeStoreTest, JoinedTextsOfEveryTradeAreKept) {
  TradeStore store;
  TradeRecord first;
  first.init_name = "F1";
  first.conf_name = "F2";
  first.init_action = "B";
  first.type = "T";
  TradeRecord second = first;
  second.init_name = "G1";
  second.conf_name = "G2";
  store.add(1, first, FirmSide::None);
  store.add(2, second, FirmSide::None);
  store.add(3, second, FirmSide::Initiator);
  std::vector<std::string> contras;
  store.walk([&](uint32_t, const KeptTrade& line) {
    EXPECT_EQ(line.texts[kActText], "BT");
    contras.emplace_back(line.texts[kContraText]);
  });
  EXPECT_EQ(contras, (std::vector<std::string>{"F1-F2", "G1-G2", "G2"}));
}

// Lengths of every size survive packing, one text larger than a block too.
// A record keeps its numbers in fewer bytes the nearer they are to what
// usually comes (a row ID near its key, one year for both dates): every
// value, however far from that, comes back exactly.
TEST(TradeStoreTest, NumbersOfEveryRangeAreKeptExactly) {
  struct Case {
    uint32_t key;
    int32_t rowID;
    int32_t status;
    DateTimeValue moment;
    DateTimeValue delivery;
  };
  const Case cases[] = {
      {0,
       INT32_MAX,
       INT32_MIN,
       {65535, 65535, 0, 65535, 65535, 65535, 65535, 0},
       {0, 0, 0, 0, 0, 0, 0, 0}},
      {5, 3, 26, {2026, 2, 0, 29, 23, 59, 59, 0}, {2026, 3, 0, 2, 0, 0, 0, 0}},
      {2147483648u, INT32_MIN, 0, {2026, 12, 0, 9, 10, 11, 12, 0}, {1999, 1, 0, 1, 0, 0, 0, 0}},
      {4294967295u, 0, -1, {0, 0, 0, 0, 0, 0, 0, 0}, {65535, 12, 0, 31, 0, 0, 0, 0}},
  };
  TradeStore store;
  for (const Case& c : cases) {
    TradeRecord record = tradeWith(c.rowID);
    record.status = c.status;
    record.trade_moment = c.moment;
    record.delivery_date = c.delivery;
    add(store, c.key, record);
  }
  std::vector<KeptTrade> lines;
  store.walk([&](uint32_t, const KeptTrade& line) { lines.push_back(line); });
  ASSERT_EQ(lines.size(), std::size(cases));
  auto same = [](const DateTimeValue& a, const DateTimeValue& b, bool withTime) {
    return a.year == b.year && a.month == b.month && a.day == b.day &&
           (!withTime || (a.hour == b.hour && a.minute == b.minute && a.second == b.second));
  };
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].rowID, cases[i].rowID) << i;
    EXPECT_EQ(lines[i].status, cases[i].status) << i;
    EXPECT_TRUE(same(lines[i].tradeMoment, cases[i].moment, true)) << i;
    EXPECT_TRUE(same(lines[i].deliveryDate, cases[i].delivery, false)) << i;
  }
}

TEST(TradeStoreTest, TextsOfAnyLengthAreKeptWhole) {
  TradeStore store;
  std::vector<std::string> memos;
  for (size_t length : {0u, 1u, 127u, 128u, 16383u, 16384u, 3u << 20, 5u, 5u << 20}) {
    memos.push_back(std::string(length, static_cast<char>('a' + memos.size())));
  }
  for (size_t i = 0; i < memos.size(); ++i) {
    TradeRecord record = tradeWith(static_cast<int32_t>(i), memos[i]);
    record.issue_name = "ISSUE";
    record.trade_moment = DateTimeValue{2026, 12, 2, 8, 23, 59, 58, 999};
    add(store, static_cast<uint32_t>(i), record);
  }
  size_t count = 0;
  store.walk([&](uint32_t key, const KeptTrade& line) {
    EXPECT_EQ(line.texts[kMemoText], memos[key]) << key;
    EXPECT_EQ(line.texts[kIssueText], "ISSUE");
    EXPECT_EQ(line.texts[kPriceText], "");
    EXPECT_EQ(line.tradeMoment.year, 2026);
    EXPECT_EQ(line.tradeMoment.day, 8);
    EXPECT_EQ(line.tradeMoment.second, 58);
    ++count;
  });
  EXPECT_EQ(count, memos.size());
}

// Records fill several blocks, one larger than a block: walked in order
// while the keys ascend, and through the index once one comes out of order.
// Keys a few places from their own, as revisions usually come, and keys far
// out of order (each sorted its own way), both with repeated keys: the walk
// is in key order, with the first trade added under each key.
TEST(TradeStoreTest, KeysNearlyAndFarOutOfOrder) {
  constexpr uint32_t kCount = 5000;
  std::vector<uint32_t> nearly(kCount);
  std::vector<uint32_t> far(kCount);
  for (uint32_t i = 0; i < kCount; ++i) {
    nearly[i] = i / 2;                                             // every key twice
    far[i] = i < 4 * kCount / 5 ? kCount - i : kCount - i % 1000;  // the last fifth repeated
  }
  for (uint32_t i = 0; i + 7 < kCount; i += 3) std::swap(nearly[i], nearly[i + 1 + i % 7]);
  for (const std::vector<uint32_t>& keys : {nearly, far}) {
    TradeStore store;
    Walked expected;
    for (uint32_t i = 0; i < kCount; ++i) {
      add(store, keys[i], tradeWith(static_cast<int32_t>(i)));
      expected.emplace_back(keys[i], static_cast<int32_t>(i));
    }
    std::stable_sort(expected.begin(), expected.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    expected.erase(std::unique(expected.begin(), expected.end(),
                               [](const auto& a, const auto& b) { return a.first == b.first; }),
                   expected.end());
    EXPECT_EQ(walked(store), expected);
  }
}

// A large index, its places written by two threads, the later blocks'
// counted from a key not yet known: keys nearly in order that run past the
// largest key and start again from 0 in the later blocks, or not, with
// keys repeated across the blocks.
TEST(TradeStoreTest, LargeIndexOfManyBlocks) {
  constexpr uint32_t kCount = 70000;
  const std::string memo(100, 'm');
  for (const uint32_t first : {uint32_t{1000}, uint32_t(0) - kCount / 2}) {
    TradeStore store;
    Walked added;
    auto addOne = [&](uint32_t key, int32_t rowID) {
      add(store, key, tradeWith(rowID, memo));
      added.emplace_back(key, rowID);
    };
    auto expected = [&] {
      Walked keys = added;
      std::stable_sort(keys.begin(), keys.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      keys.erase(std::unique(keys.begin(), keys.end(),
                             [](const auto& a, const auto& b) { return a.first == b.first; }),
                 keys.end());
      return keys;
    };
    for (uint32_t i = 0; i < kCount; ++i) {
      uint32_t key = first + (i % 4 == 0 && i + 5 < kCount ? i + 5 : i);
      if (i % 1000 == 999) key = first + i - 60000 * (i > 60000);  // an earlier key, or its own
      addOne(key, static_cast<int32_t>(i));
    }
    EXPECT_EQ(walked(store), expected()) << first;
    // Trades added after the walk follow on from the last record's key.
    addOne(first + kCount + 10, -1);
    addOne(first + 3, -2);
    addOne(first + kCount + 5, -3);
    EXPECT_EQ(walked(store), expected()) << first;
  }
}

// A store that outgrows the packed form of its index's places, between two
// walks, walks on in order; records after a block of one large record lie
// in a block of their own.
TEST(TradeStoreTest, IndexOutgrowsItsPackedForm) {
  TradeStore store(3);
  const std::string memo(1u << 20, 'm');
  const std::string large(5u << 20, 'L');
  Walked expected;
  auto addBoth = [&](uint32_t key, int32_t rowID, const std::string& text) {
    add(store, key, tradeWith(rowID, text));
    expected.emplace_back(key, rowID);
  };
  addBoth(100, 1, memo);
  addBoth(50, 2, memo);
  addBoth(60, 3, large);
  addBoth(55, 4, "after the large one");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(walked(store), expected);
  for (int32_t i = 0; i < 12; ++i) addBoth(static_cast<uint32_t>(200 - i), 10 + i, memo);
  add(store, 50, tradeWith(99));  // a key walked before keeps its first trade
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(walked(store), expected);
}

TEST(TradeStoreTest, RecordsAcrossBlocksInAndOutOfOrder) {
  TradeStore store;
  const std::string large(20u << 20, 'x');
  add(store, 1, tradeWith(1, "first"));
  add(store, 2, tradeWith(2, large));
  add(store, 3, tradeWith(3, "third"));
  EXPECT_EQ(walked(store), (Walked{{1, 1}, {2, 2}, {3, 3}}));
  add(store, 0, tradeWith(4, "zeroth"));
  add(store, 2, tradeWith(5));
  std::vector<size_t> sizes;
  store.walk(
      [&](uint32_t, const KeptTrade& line) { sizes.push_back(line.texts[kMemoText].size()); });
  EXPECT_EQ(sizes, (std::vector<size_t>{6, 5, large.size(), 5}));
  EXPECT_EQ(walked(store), (Walked{{0, 4}, {1, 1}, {2, 2}, {3, 3}}));
}

// Texts that repeat are kept once and named by a code; texts that share a
// slot, a column that stops being coded, empty and long texts all come back
// whole, in key order through the index.
TEST(TradeStoreTest, RepeatedAndDistinctTextsComeBackWhole) {
  constexpr int kTrades = 10000;
  const std::string longText(RepeatedTexts::kMaxCodedBytes + 1, 'L');
  std::vector<std::string> prices;
  std::vector<std::string> memos;
  for (int n = 0; n < kTrades; ++n) {
    prices.push_back(std::to_string(n % 700));     // more than the slots: some share one
    memos.push_back("memo " + std::to_string(n));  // none repeats
  }
  auto typeExtOf = [&](int n) -> std::string_view {
    return n % 3 == 0 ? std::string_view(longText) : n % 3 == 1 ? "N1" : "";
  };
  // Alike but for bytes in the middle, which only a full compare tells apart.
  auto contraOf = [](int n) -> std::string_view {
    return n % 2 == 0 ? "FIRM-ONE-x-FIRM-TWO" : "FIRM-ONE-y-FIRM-TWO";
  };
  TradeStore store;
  for (int n = 0; n < kTrades; ++n) {
    TradeRecord record = tradeWith(n, memos[n]);
    record.issue_name = "BOND-2031";
    record.price = prices[n];
    record.type_ext = typeExtOf(n);
    record.conf_name = contraOf(n);
    // 7919 is prime to kTrades: every key once, out of order.
    add(store, static_cast<uint32_t>(n * 7919 % kTrades), record);
  }
  uint32_t expectedKey = 0;
  store.walk([&](uint32_t key, const KeptTrade& line) {
    ASSERT_EQ(key, expectedKey++);
    const int n = line.rowID;
    EXPECT_EQ(line.texts[kIssueText], "BOND-2031");
    EXPECT_EQ(line.texts[kPriceText], prices[n]) << n;
    EXPECT_EQ(line.texts[kMemoText], memos[n]) << n;
    EXPECT_EQ(line.texts[kTypeExtText], typeExtOf(n)) << n;
    EXPECT_EQ(line.texts[kContraText], contraOf(n)) << n;
    EXPECT_EQ(line.texts[kQtyText], "");
  });
  EXPECT_EQ(expectedKey, uint32_t{kTrades});
  // Cleared, the codes given before name nothing: new texts take the slots.
  store.clear();
  TradeRecord record = tradeWith(1, "other memo");
  record.issue_name = "BOND-2040";
  add(store, 1, record);
  store.walk([&](uint32_t, const KeptTrade& line) {
    EXPECT_EQ(line.texts[kIssueText], "BOND-2040");
    EXPECT_EQ(line.texts[kMemoText], "other memo");
  });
}

}  // namespace
