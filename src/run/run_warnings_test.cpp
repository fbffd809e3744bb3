#include "run/run_warnings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

TradeSelection firm(const std::string& code, int32_t tradeStatus = 0, int32_t repoStatus = 0) {
  TradeSelection selection;
  selection.firmCode = code;
  selection.tradeStatus = tradeStatus;
  selection.repoTradeStatus = repoStatus;
  return selection;
}

TEST(EmptyReportWarningsTest, TheFirmCodeInAnotherCase) {
  FilterTally tally;
  tally.countOtherCase("RIVERSEC");
  EXPECT_EQ(emptyReportWarnings(tally, firm("riversec"), 0),
            (Texts{"no trade of firm 'riversec' is kept, but 1 trade names 'RIVERSEC': firm codes "
                   "are compared exactly"}));
  tally.countOtherCase("RIVERSEC");
  tally.countOtherCase("Riversec");
  EXPECT_EQ(emptyReportWarnings(tally, firm("riversec"), 0),
            (Texts{"no trade of firm 'riversec' is kept, but 3 trades name it in another case, "
                   "first as 'RIVERSEC': firm codes are compared exactly"}));
  // A trade kept: the report is not empty, nothing to explain.
  EXPECT_EQ(emptyReportWarnings(tally, firm("riversec"), 1), Texts{});
  // The name as the server sent it, its control bytes escaped.
  FilterTally tabbed;
  tabbed.countOtherCase("A\tB");
  EXPECT_EQ(emptyReportWarnings(tabbed, firm("a\tb"), 0)[0],
            "no trade of firm 'a\tb' is kept, but 1 trade names 'A\\tB': firm codes are compared "
            "exactly");
}

TEST(EmptyReportWarningsTest, TheStatusesOfTheFirmsTrades) {
  FilterTally tally;
  for (int32_t status : {2, 1, 1, 99, 1}) tally.statuses[0].add(status);
  EXPECT_EQ(emptyReportWarnings(tally, firm("F1", 7), 0),
            (Texts{"no trade of firm 'F1' is kept: trade_status=7, but its trades have status 1 "
                   "NEW (3 trades), 2 COM (1 trade), 99 (1 trade)"}));
  tally.statuses[1].add(3);
  EXPECT_EQ(emptyReportWarnings(tally, firm("F1", 7, 9), 0),
            (Texts{"no trade of firm 'F1' is kept: trade_status=7, but its trades have status 1 "
                   "NEW (3 trades), 2 COM (1 trade), 99 (1 trade); repotrade_status=9, but its "
                   "repo trades have status 3 VXI (1 trade)"}));
  FilterTally repoOnly;
  repoOnly.statuses[1].add(3);
  EXPECT_EQ(emptyReportWarnings(repoOnly, firm("", 0, 9), 0),
            (Texts{"no trade is kept: repotrade_status=9, but the repo trades have status 3 VXI "
                   "(1 trade)"}));
  FilterTally many;
  for (int32_t status = 1; status <= StatusTally::kSlots + 2; ++status)
    many.statuses[0].add(status);
  EXPECT_NE(emptyReportWarnings(many, firm("F1", 50), 0)[0].find(
                "16 (1 trade), and 2 trades of other statuses"),
            std::string::npos);
  // Both at once: the case first.
  tally.countOtherCase("f1");
  const Texts both = emptyReportWarnings(tally, firm("F1", 7, 9), 0);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_TRUE(both[0].starts_with("no trade of firm 'F1' is kept, but 1 trade names 'f1'"));
  EXPECT_TRUE(both[1].starts_with("no trade of firm 'F1' is kept: trade_status=7"));
  EXPECT_EQ(emptyReportWarnings(FilterTally{}, firm("F1", 7), 0), Texts{});
}

TEST(WarningCountTextTest, NoneOneOrMany) {
  EXPECT_EQ(warningCountText(0), "");
  EXPECT_EQ(warningCountText(1), ", 1 warning");
  EXPECT_EQ(warningCountText(12), ", 12 warnings");
}

}  // namespace
