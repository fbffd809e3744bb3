#include "intake/trade_intake.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "intake/filter_tally.h"
#include "intake/firm_side.h"
#include "intake/kept_trade.h"
#include "intake/trade_columns.h"
#include "intake/trade_selection.h"
#include "intake/trade_store.h"

namespace {

TEST(DecimalValueTest, SignsBlanksDigitsAndWrapping) {
  EXPECT_EQ(decimalValue("42"), 42u);
  EXPECT_EQ(decimalValue(" \t42abc"), 42u);
  EXPECT_EQ(decimalValue("+7"), 7u);
  EXPECT_EQ(decimalValue("-1"), 4294967295u);
  EXPECT_EQ(decimalValue("4294967295"), 4294967295u);
  EXPECT_EQ(decimalValue("4294967296"), 0u);
  EXPECT_EQ(decimalValue("4294967297"), 1u);
  EXPECT_EQ(decimalValue("-4294967297"), 4294967295u);
  EXPECT_EQ(decimalValue("abc"), 0u);
  EXPECT_EQ(decimalValue(""), 0u);
  EXPECT_EQ(decimalValue("- 5"), 0u);
  EXPECT_EQ(decimalValue(nullptr), 0u);
}

// Builds AddRow records from a few named values; the rest stay null, which
// the intake reads as empty texts.
class IntakeTest : public ::testing::Test {
 protected:
  void add(int32_t rowID, const char* rev, const char* init, const char* conf,
           const char* status = "2", const char* typeExt = "") {
    RowNotice row{};
    row.conn = 1;
    row.rowID = rowID;
    row.values[0] = rev;
    row.values[1] = init;
    row.values[5] = conf;
    row.values[10] = status;
    row.values[24] = typeExt;
    addTradeRow(row, selection, store, turnedAway);
  }

  std::vector<std::pair<uint32_t, int32_t>> stored() {
    std::vector<std::pair<uint32_t, int32_t>> keys;
    store.walk([&](uint32_t key, const KeptTrade& line) { keys.emplace_back(key, line.rowID); });
    return keys;
  }

  TradeSelection selection;
  TradeStore store;
  FilterTally turnedAway;
};

using Stored = std::vector<std::pair<uint32_t, int32_t>>;

TEST_F(IntakeTest, FirmFilterIsExact) {
  selection.firmCode = "FIRM1";
  add(1, "1", "firm1", "FIRM2");
  add(2, "2", "FIRM10", "X");
  add(3, "3", "FIRM1 ", "X");
  add(4, "4", "X", "FIRM1");
  add(5, "5", "FIRM1", "FIRM1");
  add(6, "6", "FIRM1", "Y");
  EXPECT_EQ(stored(), (Stored{{4, 4}, {5, 5}, {6, 6}}));
}

TEST_F(IntakeTest, EmptyFirmKeepsEveryRow) {
  add(1, "1", "A", "B");
  add(2, "2", "", "");
  EXPECT_EQ(stored().size(), 2u);
}

TEST_F(IntakeTest, StatusFiltersForRepoAndOtherTrades) {
  selection.tradeStatus = 2;
  selection.repoTradeStatus = 3;
  add(1, "1", "A", "B", "2", "");
  add(2, "2", "A", "B", "3", "");
  add(3, "3", "A", "B", "3", "R");
  add(4, "4", "A", "B", "2", "RX");
  add(5, "5", "A", "B", "2", "r");
  add(6, "6", "A", "B", "3", "X");
  add(7, "7", "A", "B", "", "");
  EXPECT_EQ(stored(), (Stored{{1, 1}, {3, 3}, {5, 5}}));
}

TEST_F(IntakeTest, ZeroStatusKeepsEveryStatus) {
  selection.repoTradeStatus = 3;
  add(1, "1", "A", "B", "9", "");
  add(2, "2", "A", "B", "", "");
  add(3, "3", "A", "B", "9", "R");
  EXPECT_EQ(stored(), (Stored{{1, 1}, {2, 2}}));
}

// Rows not kept are counted where a run can explain an empty report: the
// firm code in another case (only when no side matches exactly), and the
// statuses of the firm's trades that the status filter turned away.
TEST_F(IntakeTest, RowsTurnedAwayForTheFirmsCaseOrStatusAreCounted) {
  selection.firmCode = "RiverSec";
  add(1, "1", "RIVERSEC", "X");
  add(2, "2", "X", "riversec");
  add(3, "3", "RiverSec", "RIVERSEC");  // kept: one side matches exactly
  add(4, "4", "RIVERSECS", "RIVER SEC");
  add(5, "5", "X", "Y");
  EXPECT_EQ(turnedAway.otherCaseTrades, 2u);
  EXPECT_EQ(turnedAway.firstOtherCaseName(), "RIVERSEC");
  EXPECT_TRUE(turnedAway.otherCaseSpellings);
  EXPECT_EQ(stored(), (Stored{{3, 3}}));

  selection.tradeStatus = 2;
  selection.repoTradeStatus = 3;
  add(6, "6", "RiverSec", "X", "1", "N1");
  add(7, "7", "RiverSec", "X", "1", "");
  add(8, "8", "RiverSec", "X", "5", "R1");
  add(9, "9", "X", "RiverSec", "2", "");  // kept
  add(10, "10", "OTHER", "X", "7", "");   // another firm's: not counted
  auto counts = [](const StatusTally& tally) {
    std::vector<std::pair<int32_t, uint64_t>> all;
    for (const StatusTally::Entry& entry : tally) all.emplace_back(entry.status, entry.trades);
    return all;
  };
  using Counts = std::vector<std::pair<int32_t, uint64_t>>;
  EXPECT_EQ(counts(turnedAway.statuses[0]), (Counts{{1, 2}}));
  EXPECT_EQ(counts(turnedAway.statuses[1]), (Counts{{5, 1}}));
  EXPECT_EQ(turnedAway.otherCaseTrades, 2u);
}

TEST(FilterTallyTest, StatusesBeyondTheSlotsAreCountedTogether) {
  StatusTally tally;
  for (int32_t status = 0; status < StatusTally::kSlots + 3; ++status) tally.add(status);
  tally.add(0);
  tally.add(StatusTally::kSlots + 1);
  EXPECT_EQ(tally.end() - tally.begin(), StatusTally::kSlots);
  EXPECT_EQ(tally.begin()->trades, 2u);
  EXPECT_EQ(tally.otherTrades(), 4u);
  EXPECT_EQ(tally.trades(), uint64_t{StatusTally::kSlots} + 5);
}

TEST(FilterTallyTest, TheFirstOtherCaseNameIsKeptWithinItsBound) {
  FilterTally tally;
  const std::string longName(FilterTally::kMostNameBytes + 5, 'a');
  tally.countOtherCase(longName);
  EXPECT_EQ(tally.firstOtherCaseName(), longName.substr(0, FilterTally::kMostNameBytes));
  EXPECT_FALSE(tally.otherCaseSpellings);
  FilterTally same;
  same.countOtherCase("ABC");
  same.countOtherCase("ABC");
  EXPECT_EQ(same.otherCaseTrades, 2u);
  EXPECT_FALSE(same.otherCaseSpellings);
}

TEST_F(IntakeTest, FirstRowPerKeyWinsAndDroppedRowsHoldNoKey) {
  selection.firmCode = "F";
  add(1, "10", "X", "Y");  // dropped: does not hold key 10
  add(2, "10", "F", "Y");
  add(3, "10", "F", "Z");  // duplicate: dropped
  add(4, "-1", "F", "Y");
  add(5, "abc", "F", "Y");
  add(6, " 42abc", "F", "Y");
  EXPECT_EQ(stored(), (Stored{{0, 5}, {10, 2}, {42, 6}, {4294967295u, 4}}));
}

// A row is decoded as the intake decodes it: its fields, then the date-times
// its line writes.
TradeRecord decodeAsTheIntakeDoes(const RowNotice& row, uint32_t* key) {
  TradeRecord record = decodeTradeFields(row, key);
  EXPECT_EQ(record.trade_moment.year, 0) << "a date-time parsed with the fields";
  EXPECT_EQ(record.delivery_date.year, 0) << "a date-time parsed with the fields";
  decodeReportedDates(row, &record);
  return record;
}

TEST(DecodeTest, NullValuesReadAsEmptyTexts) {
  RowNotice row{};
  row.rowID = 9;
  uint32_t key = 1;
  const TradeRecord record = decodeAsTheIntakeDoes(row, &key);
  EXPECT_EQ(key, 0u);
  EXPECT_EQ(record.rowID, 9);
  EXPECT_TRUE(record.init_name.empty());
  EXPECT_EQ(record.trade_moment.year, 0);
  EXPECT_EQ(record.delivery_date.year, 0);
}

TEST(DecodeTest, DecodesEveryColumnInListOrder) {
  std::vector<std::string> texts;
  for (int i = 0; i < kTradeColumnCount; ++i) texts.push_back("v" + std::to_string(i));
  texts[0] = "5";
  texts[10] = "21";
  texts[14] = "2003-12-15 10:30:15";
  texts[15] = "2003-12-16T11:00:00.250";
  texts[20] = "2003-12-17T12:00:00.250";
  RowNotice row{};
  row.rowID = 77;
  for (int i = 0; i < kTradeColumnCount; ++i) row.values[i] = texts[i].c_str();
  uint32_t key = 0;
  const TradeRecord r = decodeAsTheIntakeDoes(row, &key);
  EXPECT_EQ(key, 5u);
  const std::string_view fields[] = {r.init_name, r.init_action, r.init_pair,
                                     r.init_memo, r.conf_name,   r.conf_action,
                                     r.conf_pair, r.conf_memo,   r.issue_name};
  for (int i = 0; i < 9; ++i) EXPECT_EQ(fields[i], "v" + std::to_string(i + 1));
  EXPECT_EQ(r.status, 21);
  auto joined = [](std::initializer_list<std::string_view> texts) {
    std::string all;
    for (std::string_view text : texts) all += text;
    return all;
  };
  EXPECT_EQ(joined({r.price, r.qty, r.volume}), "v11v12v13");
  EXPECT_EQ(joined({r.price_currency, r.price_rate, r.payment_currency, r.payment_rate}),
            "v16v17v18v19");
  EXPECT_EQ(joined({r.clear, r.dcc, r.type, r.type_ext, r.trade_ref, r.repo_action, r.repurchase}),
            "v21v22v23v24v25v26v27");
  EXPECT_EQ(r.trade_moment.hour, 10);
  EXPECT_EQ(r.trade_moment.dayOfWeek, 1);
  EXPECT_EQ(r.delivery_date.day, 17);
  EXPECT_EQ(r.delivery_date.milliseconds, 250);
  // No line writes "affirm_moment": it is never parsed.
  EXPECT_EQ(r.affirm_moment.year, 0);
  EXPECT_EQ(r.affirm_moment.milliseconds, 0);
}

// The intake decodes only the columns it reads: left undecoded, a column
// must change nothing that is kept, from any side, and the ones decoded must
// read as the full decoder reads them.
TEST(DecodeTest, ColumnsLeftUndecodedChangeNoKeptTrade) {
  std::vector<std::string> texts;
  for (int i = 0; i < kTradeColumnCount; ++i) texts.push_back("v" + std::to_string(i));
  texts[0] = "5";
  texts[10] = "21";
  texts[24] = "R1";  // a repo trade: its RepoAct and repurchase are written
  texts[26] = "3";
  RowNotice row{};
  row.rowID = 8;
  for (int i = 0; i < kTradeColumnCount; ++i) row.values[i] = texts[i].c_str();
  uint32_t allKey = 0;
  uint32_t keptKey = 0;
  const TradeRecord all = decodeTradeFields(row, &allKey);
  const TradeRecord kept = decodeKeptFields(row, &keptKey);
  EXPECT_EQ(keptKey, allKey);
  EXPECT_TRUE(kept.price_currency.empty() && kept.price_rate.empty() && kept.payment_rate.empty() &&
              kept.clear.empty());
  for (FirmSide side : {FirmSide::None, FirmSide::Initiator, FirmSide::Confirmer, FirmSide::Both}) {
    std::string allJoined;
    std::string keptJoined;
    const KeptTrade fromAll = keepTrade(all, side, &allJoined);
    const KeptTrade fromKept = keepTrade(kept, side, &keptJoined);
    EXPECT_EQ(fromKept.rowID, 8);
    EXPECT_EQ(fromKept.status, 21);
    for (int text = 0; text < kKeptTextCount; ++text) {
      EXPECT_EQ(fromKept.texts[text], fromAll.texts[text])
          << "text " << text << ", side " << static_cast<int>(side);
    }
  }
  TradeSelection selection;
  selection.firmCode = "v1";
  selection.repoTradeStatus = 21;
  EXPECT_TRUE(keepsTrade(kept, selection));
}

TEST(TradeColumnsTest, TheListNamesEveryColumnInDecodingOrder) {
  EXPECT_STREQ(kTradeColumnList,
               "rev,init_name,init_action,init_pair,init_memo,conf_name,conf_action,conf_pair,"
               "conf_memo,issue_name,status,price,qty,volume,trade_moment,affirm_moment,"
               "price_currency,price_rate,payment_currency,payment_rate,delivery_date,clear,dcc,"
               "type,type_ext,trade_ref,repo_action,repurchase");
  static_assert(tradeColumnIndex("status") == 10);
}

}  // namespace
