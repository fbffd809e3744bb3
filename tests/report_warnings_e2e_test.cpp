// An empty or odd report explained: the warnings a run logs about what it
// kept and wrote, and the count of warnings in its closing line. None of
// them changes a byte of the report.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "testsupport/temp_dir.h"

namespace e2e {
namespace {

using testsupport::TempDir;
using Rows = std::vector<TableRow>;

std::string settings(const std::string& more) {
  return iniFile("sync_timeout=1\r\ntrade_issue=XYZ1\r\nreport_file=r.txt\r\n" + more);
}

// The position of `line` in the run's log, or the line count when absent.
size_t lineIndex(const RunResult& run, const std::string& line) {
  const std::vector<std::string> lines = run.lines();
  size_t at = 0;
  while (at < lines.size() && lines[at] != line) ++at;
  return at;
}

// The closing line, as far as the run's time, must end with `tail` (empty:
// nothing after the time).
void expectClosingLineEndsWith(const RunResult& run, const std::string& tail) {
  const std::vector<std::string> lines = run.lines();
  ASSERT_FALSE(lines.empty());
  static const std::regex complete(
      "\\[ZUQTradeReport\\] Report complete: '.*', [0-9]+ trades written \\([0-9]+ rows "
      "received, [0-9]+ kept\\), [0-9]+\\.[0-9][0-9] s(.*)");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines.back(), match, complete)) << run.log;
  EXPECT_EQ(match[1], tail) << run.log;
}

// The warning comes after the table and before the report is written.
void expectWarningBeforeTheReport(const RunResult& run, const std::string& warning) {
  const std::string line = "[ZUQTradeReport] Warning: " + warning;
  const size_t at = lineIndex(run, line);
  ASSERT_LT(at, run.lines().size()) << "no line: " << line << "\n" << run.log;
  EXPECT_GT(at, lineIndex(run, "[ZUQTradeReport] Sychronized conn=1")) << run.log;
  EXPECT_LT(at, lineIndex(run, "[ZUQTradeReport] Report file: 'r.txt'")) << run.log;
}

TEST(ReportWarningsE2eTest, AFirmCodeInTheWrongCaseIsNamed) {
  TempDir box;
  box.write("test.ini", settings("trade_participant=riversec\r\n"));
  box.write("data/Trade.csv",
            tableFile(tradeColumns(),
                      {trade({{"rev", "1"}, {"init_name", "RIVERSEC"}}),
                       trade({{"rev", "2"}, {"conf_name", "RIVERSEC"}}),
                       trade({{"rev", "3"}, {"init_name", "RIVERSEC"}, {"conf_name", "RIVERSEC"}}),
                       trade({{"rev", "4"}, {"init_name", "RIVERSECS"}})}));
  RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  expectWarningBeforeTheReport(
      run,
      "no trade of firm 'riversec' is kept, but 3 trades name 'RIVERSEC': firm codes are "
      "compared exactly");
  EXPECT_EQ(box.read("r.txt"), "");
  expectClosingLineEndsWith(run, ", 1 warning");

  // Spelt as the trades spell it, the code keeps them and draws no warning.
  box.write("test.ini", settings("trade_participant=RIVERSEC\r\n"));
  run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.log.find("Warning"), std::string::npos) << run.log;
  expectClosingLineEndsWith(run, "");
}

TEST(ReportWarningsE2eTest, AStatusThatNoTradeOfTheFirmHasIsExplained) {
  TempDir box;
  box.write("test.ini",
            settings("trade_participant=F1\r\ntrade_status=7\r\nrepotrade_status=9\r\n"));
  const Rows rows = {
      // Delivered, then discarded by the Clear: not counted.
      trade({{"rev", "1"}, {"status", "5"}, {"type_ext", "N1"}}),
      {{"@op", "clear"}},
      trade({{"rev", "2"}, {"status", "1"}, {"type_ext", "N1"}}),
      trade({{"rev", "3"}, {"status", "2"}, {"type_ext", "N1"}}),
      trade({{"rev", "4"}, {"status", "1"}, {"type_ext", ""}}),
      trade({{"rev", "5"}, {"status", "3"}, {"type_ext", "R1"}}),
      // Another firm's trade of the status asked for: not the firm's.
      trade({{"rev", "6"}, {"status", "7"}, {"init_name", "F9"}, {"type_ext", "N1"}}),
  };
  box.write("data/Trade.csv", tableFile(tradeColumns(), rows));
  RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  expectWarningBeforeTheReport(
      run,
      "no trade of firm 'F1' is kept: trade_status=7, but its trades have status 1 NEW (2 "
      "trades), 2 COM (1 trade); repotrade_status=9, but its repo trades have status 3 VXI "
      "(1 trade)");
  EXPECT_EQ(box.read("r.txt"), "");
  expectClosingLineEndsWith(run, ", 1 warning");

  // One trade kept: the report is not empty, and nothing is explained.
  box.write("test.ini",
            settings("trade_participant=F1\r\ntrade_status=2\r\nrepotrade_status=9\r\n"));
  run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(run.log.find("Warning"), std::string::npos) << run.log;
  expectClosingLineEndsWith(run, "");
}

TEST(ReportWarningsE2eTest, TextsThatHoldTheDelimiterOrALineFeedAreCounted) {
  TempDir box;
  const Rows rows = {
      trade({{"@rowid", "11"}, {"rev", "1"}}),
      trade({{"@rowid", "12"}, {"rev", "2"}, {"init_memo", "two\nlines"}}),
      trade({{"@rowid", "13"}, {"rev", "3"}, {"init_memo", "desk B; rebalance"}}),
      trade({{"@rowid", "14"}, {"rev", "4"}, {"trade_ref", "T|7"}}),
  };
  box.write("data/Trade.csv", tableFile(tradeColumns(), rows));
  box.write("test.ini", settings("trade_participant=F1\r\n"));
  RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  const std::string line = "XYZ1;BT;COM;C001;F2;101.5;10;1015;XXX;20031217;0000000";
  const std::string tail = ";20031215;10:30:15;D1;R1;";
  // Written as they are: the line feed as CR LF, the delimiter as it is.
  EXPECT_EQ(box.read("r.txt"), line + "11" + tail + "77;BS;1;hello\r\n" +  //
                                   line + "12" + tail + "77;BS;1;two\r\nlines\r\n" + line + "13" +
                                   tail + "77;BS;1;desk B; rebalance\r\n" + line + "14" + tail +
                                   "T|7;BS;1;hello\r\n");
  const std::string warning =
      "[ZUQTradeReport] Warning: 2 trade lines have texts that hold the delimiter ';' or a line "
      "feed, which a reader of the report takes for a column's or a line's end: the first is "
      "rowID=12, whose Memo holds a line feed";
  const size_t at = lineIndex(run, warning);
  ASSERT_LT(at, run.lines().size()) << run.log;
  // After the report's lines, before the closing line.
  EXPECT_GT(at, lineIndex(run,
                          "[ZUQTradeReport] Report options: delimeter ';', header 0, date "
                          "format 0"));
  EXPECT_EQ(at + 1, run.lines().size() - 1) << run.log;
  expectClosingLineEndsWith(run, ", 1 warning");

  // Another delimiter: the texts that hold it, and the line feed still.
  box.write("test.ini", settings("trade_participant=F1\r\nfield_delimeter=|\r\n"));
  run = runReport(box);
  EXPECT_TRUE(run.hasLine(
      "[ZUQTradeReport] Warning: 2 trade lines have texts that hold the delimiter '|' or a line "
      "feed, which a reader of the report takes for a column's or a line's end: the first is "
      "rowID=12, whose Memo holds a line feed"))
      << run.log;

  // An empty delimiter splits nothing; a line feed still ends a line.
  box.write("test.ini", settings("trade_participant=F1\r\nfield_delimeter=\"\"\r\n"));
  run = runReport(box);
  EXPECT_TRUE(
      run.hasLine("[ZUQTradeReport] Warning: 1 trade line has a text that holds a line feed, "
                  "which a reader of the report takes for a line's end: rowID=12, whose Memo "
                  "holds a line feed"))
      << run.log;

  // A delimiter that no text holds, and no line feed: no warning.
  box.write("data/Trade.csv", tableFile(tradeColumns(), {rows[0], rows[2]}));
  box.write("test.ini", settings("trade_participant=F1\r\nfield_delimeter=|\r\n"));
  run = runReport(box);
  EXPECT_EQ(run.log.find("Warning"), std::string::npos) << run.log;
  expectClosingLineEndsWith(run, "");
}

TEST(ReportWarningsE2eTest, TheClosingLineCountsEveryWarningOfTheRun) {
  TempDir box;
  // Two warnings at the start (an unknown key, no trade_participant), one
  // about the report's texts.
  box.write("test.ini", settings("colour=blue\r\n"));
  box.write("data/Trade.csv",
            tableFile(tradeColumns(), {trade({{"rev", "1"}, {"trade_ref", "a;b"}})}));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  size_t warnings = 0;
  for (const std::string& line : run.lines()) {
    if (line.starts_with("[ZUQTradeReport] Warning: ")) ++warnings;
  }
  EXPECT_EQ(warnings, 3u) << run.log;
  expectClosingLineEndsWith(run, ", 3 warnings");
}

}  // namespace
}  // namespace e2e
