#include "report/trade_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "report/trade_line.h"
#include "testsupport/temp_dir.h"

namespace {

// The default options, with the report at `path`.
ReportOptionsReader reportAt(const std::string& path) {
  return [path] {
    ReportOptions options;
    options.reportFile = path;
    options.delimiter = ";";
    return options;
  };
}

// A report of many batches of lines, formatted partly on a second thread,
// holds every line once and in order, whatever the count of batches (even
// or odd: the last one the helper's or this thread's) and of lines left over.
TEST(TradeReportTest, LinesOfEveryBatchInOrder) {
  for (uint32_t count : {0u, 1u, 2048u, 2049u, 4096u, 6144u, 8192u, 8193u, 12345u, 20480u}) {
    const testsupport::TempDir dir;
    TradeStore store;
    ReportFile expected(ReportFile::InMemory{});
    for (uint32_t key = 0; key < count; ++key) {
      const std::string memo = "memo " + std::to_string(key);
      TradeRecord record;
      record.rowID = static_cast<int32_t>(key);
      record.init_memo = memo;
      store.add(key, record, FirmSide::Initiator);
      std::string joined;
      writeTradeLine(expected, keepTrade(record, FirmSide::Initiator, &joined), ";", 0);
    }
    const ReportOutcome outcome = writeTradeReport(reportAt(dir / "report.txt"), "", store);
    ASSERT_TRUE(outcome) << count;
    EXPECT_EQ(dir.read("report.txt"), expected.text()) << count;
    EXPECT_TRUE(outcome.warnings.empty()) << count;
  }
}

// The same through the index, keys out of order and some repeated, over
// several batches, whole and cut short; a memo with line feeds or longer
// than the file's buffer on either thread.
TEST(TradeReportTest, LinesThroughTheIndexInWalkOrder) {
  const std::string longMemo(ReportFile::kBufferBytes + 10, 'm');
  for (uint32_t count : {16384u, 16385u, 20481u, 45000u}) {
    const testsupport::TempDir dir;
    TradeStore store;
    std::vector<std::string> memos(count);
    for (uint32_t n = 0; n < count; ++n) {
      memos[n] = n % 5000 == 7 ? "two\nlines" : n % 9000 == 11 ? longMemo : std::to_string(n);
      TradeRecord record;
      record.rowID = static_cast<int32_t>(n);
      record.init_memo = memos[n];
      // Every key once, out of order, then some keys again: the first wins.
      store.add((count - 1 - n) * 7, record, FirmSide::Initiator);
      if (n % 1000 == 0) store.add((count - 1 - n) * 7, TradeRecord{}, FirmSide::Initiator);
    }
    ReportFile expected(ReportFile::InMemory{});
    for (uint32_t n = count; n-- > 0;) {
      TradeRecord record;
      record.rowID = static_cast<int32_t>(n);
      record.init_memo = memos[n];
      std::string joined;
      writeTradeLine(expected, keepTrade(record, FirmSide::Initiator, &joined), ";", 0);
    }
    const ReportOutcome outcome = writeTradeReport(reportAt(dir / "report.txt"), "", store);
    ASSERT_TRUE(outcome) << count;
    EXPECT_EQ(outcome.tradeLines, count);
    EXPECT_TRUE(dir.read("report.txt") == expected.text()) << count;
    // The memos with line feeds, counted on both threads: the first in the
    // walk is the last added.
    const uint32_t last = (count - 1 - 7) / 5000 * 5000 + 7;
    ASSERT_EQ(outcome.warnings.size(), 1u) << count;
    EXPECT_EQ(outcome.warnings[0],
              std::to_string((count - 1 - 7) / 5000 + 1) +
                  " trade lines have texts that hold the delimiter ';' or a line feed, which a "
                  "reader of the report takes for a column's or a line's end: the first is rowID=" +
                  std::to_string(last) + ", whose Memo holds a line feed")
        << count;
  }
}

// The warning's words, for one line and for several, with and without a
// delimiter.
TEST(TradeReportTest, StraySeparatorWarning) {
  StraySeparators strayed;
  EXPECT_EQ(straySeparatorWarning(strayed, ";"), "");
  strayed.trades = 1;
  strayed.firstRowID = 42;
  strayed.first = StraySeparator{kContraText, false};
  EXPECT_EQ(straySeparatorWarning(strayed, " | "),
            "1 trade line has a text that holds the delimiter ' | ' or a line feed, which a reader "
            "of the report takes for a column's or a line's end: rowID=42, whose Contra holds the "
            "delimiter");
  strayed.trades = 3;
  strayed.first = StraySeparator{kMemoText, true};
  EXPECT_EQ(straySeparatorWarning(strayed, ""),
            "3 trade lines have texts that hold a line feed, which a reader of the report takes "
            "for a line's end: the first is rowID=42, whose Memo holds a line feed");
  strayed.first = StraySeparator{kIssueText, true};
  EXPECT_NE(straySeparatorWarning(strayed, ";").find("whose Issue holds"), std::string::npos);
  strayed.first = StraySeparator{kRepurchaseText, true};
  EXPECT_NE(straySeparatorWarning(strayed, ";").find("whose Repurchase holds"), std::string::npos);
}

}  // namespace
