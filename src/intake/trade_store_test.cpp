#include "intake/trade_store.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

KeptTrade lineWith(int32_t rowID, std::string_view memo = {}) {
  KeptTrade line;
  line.rowID = rowID;
  line.texts[kMemoText] = memo;
  return line;
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
    store.add(key, lineWith(rowID));
  }
  EXPECT_EQ(walked(store), (Walked{{0, 6}, {7, 2}, {12, 4}, {30, 1}, {4294967295u, 3}}));
  EXPECT_EQ(store.size(), 5u);
}

// Rows keep coming after a walk (the connection stays open): a later walk
// takes them in, and a key walked before keeps its first trade.
TEST(TradeStoreTest, TradesAddedAfterAWalk) {
  TradeStore store;
  store.add(5, lineWith(1));
  store.add(9, lineWith(2));
  EXPECT_EQ(walked(store), (Walked{{5, 1}, {9, 2}}));
  store.add(9, lineWith(3));
  store.add(1, lineWith(4));
  store.add(7, lineWith(5));
  store.add(1, lineWith(6));
  EXPECT_EQ(walked(store), (Walked{{1, 4}, {5, 1}, {7, 5}, {9, 2}}));
  store.add(10, lineWith(7));
  EXPECT_EQ(walked(store), (Walked{{1, 4}, {5, 1}, {7, 5}, {9, 2}, {10, 7}}));
}

TEST(TradeStoreTest, ClearDiscardsEveryTrade) {
  TradeStore store;
  store.add(5, lineWith(1));
  EXPECT_EQ(walked(store).size(), 1u);
  store.add(6, lineWith(2));
  store.clear();
  EXPECT_TRUE(walked(store).empty());
  store.add(5, lineWith(3));
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
TEST(TradeStoreTest, TextsOfAnyLengthAreKeptWhole) {
  TradeStore store;
  std::vector<std::string> memos;
  for (size_t length : {0u, 1u, 127u, 128u, 16383u, 16384u, 3u << 20, 5u}) {
    memos.push_back(std::string(length, static_cast<char>('a' + memos.size())));
  }
  for (size_t i = 0; i < memos.size(); ++i) {
    KeptTrade line = lineWith(static_cast<int32_t>(i), memos[i]);
    line.texts[kIssueText] = "ISSUE";
    line.tradeMoment = DateTimeValue{2026, 12, 2, 8, 23, 59, 58, 999};
    store.add(static_cast<uint32_t>(i), line);
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
TEST(TradeStoreTest, RecordsAcrossBlocksInAndOutOfOrder) {
  TradeStore store;
  const std::string large(20u << 20, 'x');
  store.add(1, lineWith(1, "first"));
  store.add(2, lineWith(2, large));
  store.add(3, lineWith(3, "third"));
  EXPECT_EQ(walked(store), (Walked{{1, 1}, {2, 2}, {3, 3}}));
  store.add(0, lineWith(4, "zeroth"));
  store.add(2, lineWith(5));
  std::vector<size_t> sizes;
  store.walk(
      [&](uint32_t, const KeptTrade& line) { sizes.push_back(line.texts[kMemoText].size()); });
  EXPECT_EQ(sizes, (std::vector<size_t>{6, 5, large.size(), 5}));
  EXPECT_EQ(walked(store), (Walked{{0, 4}, {1, 1}, {2, 2}, {3, 3}}));
}

}  // namespace
