// What an operator meets: the run's closing line, warnings about the INI
// file, --check, refused options, quiet rows, a shared log file, and the
// report and log paths that must neither hang the run nor destroy its input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <string>
#include <utility>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "e2e_support.h"
#include "testsupport/temp_dir.h"

namespace e2e {
namespace {

using testsupport::TempDir;
using Rows = std::vector<TableRow>;

// The path as the program writes it in its closing line: absolute and
// lexically normal, with native separators.
std::string absolute(const TempDir& box, const std::string& name) {
  return std::filesystem::path(box / name).lexically_normal().string();
}

std::string lastLine(const RunResult& run) {
  const std::vector<std::string> lines = run.lines();
  return lines.empty() ? "" : lines.back();
}

// A run's settings for issue XYZ1 and firm F1, the report at `reportFile`.
std::string settings(const std::string& reportFile = "r.txt", const std::string& more = "") {
  return iniFile("sync_timeout=1\r\ntrade_issue=XYZ1\r\ntrade_participant=F1\r\nreport_file=" +
                 reportFile + "\r\n" + more);
}

// The same settings with the library's log file "run.log" beside the INI.
std::string settingsWithLogFile() {
  return "[zuqonl]\r\ndata_dir=data\r\nlog_file=run.log\r\n[options]\r\n"
         "sync_timeout=1\r\ntrade_issue=XYZ1\r\ntrade_participant=F1\r\n"
         "report_file=r.txt\r\n";
}

// --- The closing line -------------------------------------------------------

TEST(OperatorE2eTest, ACompleteRunEndsWithWhatItWrote) {
  TempDir box;
  box.write("test.ini", settings());
  // Two kept under one revision (written once), one of another firm.
  box.write(
      "data/Trade.csv",
      tableFile(tradeColumns(), {trade({{"rev", "1"}}), trade({{"rev", "1"}}),
                                 trade({{"rev", "2"}, {"init_name", "F9"}, {"conf_name", "F8"}}),
                                 trade({{"rev", "3"}})}));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  const std::regex complete(
      "\\[ZUQTradeReport\\] Report complete: '(.*)', 2 trades written \\(4 "
      "rows received, 3 kept\\), [0-9]+\\.[0-9][0-9] s");
  std::smatch match;
  const std::string last = lastLine(run);
  ASSERT_TRUE(std::regex_match(last, match, complete)) << run.log;
  EXPECT_EQ(match[1], absolute(box, "r.txt"));
}

TEST(OperatorE2eTest, ARunWithoutAReportSaysWhyAndWhetherTheOldOneStands) {
  TempDir box;
  box.write("test.ini", "[options]\r\nsync_timeout=0\r\nreport_file=r.txt\r\n");
  RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(lastLine(run),
            "[ZUQTradeReport] No report: the data server was not reached within 0 s; no previous "
            "report, exit status 1")
      << run.log;
  box.write("r.txt", "the earlier report\r\n");
  run = runReport(box);
  EXPECT_EQ(lastLine(run),
            "[ZUQTradeReport] No report: the data server was not reached within 0 s; previous "
            "report kept, exit status 1")
      << run.log;
}

TEST(OperatorE2eTest, AReportThatCannotBeOpenedNamesTheReasonAndTheAbsolutePath) {
  TempDir box;
  box.write("test.ini", settings("out/x.txt"));
  box.write("data/Trade.csv", tableFile(tradeColumns(), {trade()}));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 3);
  const std::vector<std::string> lines = run.lines();
  ASSERT_GE(lines.size(), 2u);
  // The writer's own line stays the writer's last; the run's closing line
  // follows after the library is closed.
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't open file 'out/x.txt'")) << run.log;
  EXPECT_EQ(lines.back(), "[ZUQTradeReport] No report: cannot open '" + absolute(box, "out/x.txt") +
                              "': No such file or directory; no previous report, exit status 3");
}

// --- Warnings ---------------------------------------------------------------

// Mistakes that change nothing the run does: each is named right after the
// INI path, the program's before the library's, and the run goes on as
// without the line. (Misspellings that would change the run refuse it:
// settings_e2e_test.cpp.)
TEST(OperatorE2eTest, MistakesInTheIniFileAreWarnedOfAndChangeNothing) {
  TempDir box;
  box.write("test.ini",
            "[zuqonl]\r\ndata_dir=data\r\nlog_flie=x.log\r\n[options]\r\n"
            "sync_timeout=1\r\ntrade_participnt=\r\nreport_flie=ZUQTradeReport.txt\r\n"
            "print_header=yes\r\ncolour=blue\r\n");
  box.write("data/Trade.csv", tableFile(tradeColumns(), {trade()}));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  const std::vector<std::string> lines = run.lines();
  const std::vector<std::string> warnings = {
      "[ZUQTradeReport] Warning: unknown key 'trade_participnt' in [options] is ignored: did you "
      "mean 'trade_participant'?",
      "[ZUQTradeReport] Warning: unknown key 'report_flie' in [options] is ignored: did you mean "
      "'report_file'?",
      "[ZUQTradeReport] Warning: unknown key 'colour' in [options] is ignored",
      "[ZUQTradeReport] Warning: print_header=yes is not a number: 0 is used",
      "[ZUQTradeReport] Warning: no trade_issue in [options]: the trades of every issue will be "
      "reported",
      "[ZUQTradeReport] Warning: no trade_participant in [options]: the trades of every firm will "
      "be reported",
      "[zuqonl] Warning: unknown key 'log_flie' in [zuqonl] is ignored: did you mean 'log_file'?",
  };
  ASSERT_GE(lines.size(), 3 + warnings.size()) << run.log;
  for (size_t i = 0; i < warnings.size(); ++i) EXPECT_EQ(lines[3 + i], warnings[i]) << run.log;
  // The defaults, as before: no header, every firm, the default file.
  EXPECT_EQ(box.read("ZUQTradeReport.txt").substr(0, 5), "XYZ1;");
}

TEST(OperatorE2eTest, EmptyValuesAreTakenAsWritten) {
  TempDir box;
  box.write("data/Trade.csv", tableFile(tradeColumns(), {trade()}));
  // Empty values may be meant: no warning for them.
  box.write("test.ini", iniFile("sync_timeout=1\r\ntrade_issue=\r\ntrade_participant=\r\n"));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.log.find("Warning"), std::string::npos) << run.log;
}

// --- --check ------------------------------------------------------------------

TEST(OperatorE2eTest, CheckFindsNothingInAGoodIniFileAndWritesNothing) {
  TempDir box;
  box.write("test.ini", settingsWithLogFile());
  box.write("data/Trade.csv", tableFile(tradeColumns(), {trade()}));
  const RunResult run = runProgram(ZUQ_PROGRAM_PATH, {"--check", "test.ini"}, box.dir());
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(run.hasLine("  trade_participant = 'F1'")) << run.log;
  EXPECT_TRUE(run.hasLine("  log_rows = 1 (default)")) << run.log;
  EXPECT_TRUE(run.hasLine("  data_dir = data")) << run.log;
  EXPECT_NE(run.log.find("ok: data_dir '" + absolute(box, "data") + "' can be read"),
            std::string::npos)
      << run.log;
  EXPECT_NE(run.log.find("has the 28 columns"), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("problem"), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("DS Connected"), std::string::npos);
  EXPECT_FALSE(box.exists("r.txt"));
  EXPECT_FALSE(box.exists("run.log"));
}

TEST(OperatorE2eTest, CheckFindsWhatARunWouldStumbleOn) {
  TempDir box;
  box.write("test.ini",
            "[zuqonl]\r\ndata_dir=data\r\n[options]\r\ntrade_issue=XYZ1\r\n"
            "trade_particpant=F1\r\nreport_file=missing/r.txt\r\n");
  box.write("data/Trade.csv", "rev,init_name,status\r\n1,F1,2\r\n");
  const RunResult run = runProgram(ZUQ_PROGRAM_PATH, {"--check", "test.ini"}, box.dir());
  EXPECT_EQ(run.exitStatus, 4) << run.log;
  EXPECT_TRUE(
      run.hasLine("[ZUQTradeReport] Warning: unknown key 'trade_particpant' in [options] "
                  "is ignored: did you mean 'trade_participant'?"))
      << run.log;
  EXPECT_NE(run.log.find("problem: report folder '"), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("problem: table file '"), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("lacks the columns init_action, init_pair,"), std::string::npos)
      << run.log;
  EXPECT_FALSE(box.exists("missing"));
  // No INI file at all.
  const RunResult none = runProgram(ZUQ_PROGRAM_PATH, {"--check", "absent.ini"}, box.dir());
  EXPECT_EQ(none.exitStatus, 4) << none.log;
  EXPECT_NE(none.log.find("problem: INI file 'absent.ini' cannot be read"), std::string::npos)
      << none.log;
}

// --- Options ------------------------------------------------------------------

TEST(OperatorE2eTest, AnUnknownOptionIsRefusedWithTheUsage) {
  TempDir box;
  // Each command line with the argument refused.
  const std::vector<std::pair<std::vector<std::string>, std::string>> refused = {
      {{"-V"}, "-V"}, {{"--verbose", "test.ini"}, "--verbose"}, {{"--check", "-x"}, "-x"}};
  for (const auto& [args, option] : refused) {
    const RunResult run = runProgram(ZUQ_PROGRAM_PATH, args, box.dir(), 20);
    EXPECT_EQ(run.exitStatus, 2) << option;
    EXPECT_NE(run.log.find("unknown option '" + option + "'"), std::string::npos) << run.log;
    EXPECT_NE(run.log.find("Usage: ZUQTradeReport"), std::string::npos);
    EXPECT_EQ(run.log.find("Using ini path"), std::string::npos);
  }
  // A file whose name begins with '-' is given with its folder.
  box.write("-x.ini", settings());
  box.write("data/Trade.csv", tableFile(tradeColumns(), {trade()}));
  const RunResult run = runProgram(ZUQ_PROGRAM_PATH, {"./-x.ini"}, box.dir());
  EXPECT_EQ(run.exitStatus, 0) << run.log;
}

// --- Quiet rows ---------------------------------------------------------------

TEST(OperatorE2eTest, QuietRowsLogACountAndWriteTheSameReport) {
  TempDir box;
  // A lean table: the columns the filters and the line need, 100,002 rows.
  const std::vector<std::string> columns = {"@op",       "rev",    "init_name",
                                            "conf_name", "status", "issue_name"};
  Rows rows;
  for (int rev = 1; rev <= 100000; ++rev) {
    rows.push_back({{"rev", std::to_string(rev)},
                    {"init_name", rev % 3 ? "F1" : "F2"},
                    {"conf_name", "F3"},
                    {"status", "2"},
                    {"issue_name", "XYZ1"}});
  }
  rows.push_back({{"@op", "update"}, {"rev", "5"}, {"issue_name", "XYZ1"}});
  rows.push_back({{"@op", "delete"}, {"rev", "6"}, {"issue_name", "XYZ1"}});
  rows.push_back({{"rev", "100001"}, {"init_name", "F1"}, {"status", "2"}, {"issue_name", "XYZ1"}});
  box.write("data/Trade.csv", tableFile(columns, rows));
  box.write("test.ini", settings());
  const RunResult loud = runReport(box);
  ASSERT_EQ(loud.exitStatus, 0) << loud.log.substr(0, 2000);
  const std::string loudReport = box.read("r.txt");
  box.write("test.ini", settings("r.txt", "log_rows=0\r\n"));
  const RunResult quiet = runReport(box);
  ASSERT_EQ(quiet.exitStatus, 0) << quiet.log.substr(0, 2000);
  EXPECT_EQ(box.read("r.txt"), loudReport);
  EXPECT_NE(loud.log.find("[ZUQTradeReport] UpdateRow conn=1"), std::string::npos);
  for (const char* rowLine : {"AddRow", "UpdateRow", "DeleteRow"}) {
    EXPECT_EQ(quiet.log.find(rowLine), std::string::npos) << rowLine;
  }
  EXPECT_TRUE(quiet.hasLine("[ZUQTradeReport] Rows received: 100000")) << quiet.log;
  EXPECT_EQ(quiet.log.find("Rows received: 200000"), std::string::npos);
  // Every other line stays: the loud log less its row lines is the quiet one
  // less its count, up to the closing line's time.
  auto withoutRows = [](const RunResult& run) {
    std::string kept;
    for (const std::string& line : run.lines()) {
      if (line.find("Row conn=") != std::string::npos || line.find("Rows received") == 17) continue;
      kept += std::regex_replace(line, std::regex("[0-9]+\\.[0-9][0-9] s$"), "S s") + "\n";
    }
    return kept;
  };
  EXPECT_EQ(withoutRows(quiet), withoutRows(loud));
}

// --- One log file, two runs ---------------------------------------------------

// Two runs at once append to one log file: their lines interleave, whole.
TEST(OperatorE2eTest, TwoRunsSharingALogFileNeverCutALine) {
  TempDir box;
  constexpr int kRows = 60000;
  const std::vector<std::string> columns = {"rev", "init_name", "status", "issue_name"};
  Rows rows;
  for (int rev = 1; rev <= kRows; ++rev) {
    rows.push_back({{"rev", std::to_string(rev)},
                    {"init_name", "F1"},
                    {"status", "2"},
                    {"issue_name", "XYZ1"}});
  }
  box.write("data/Trade.csv", tableFile(columns, rows));
  for (const std::string name : {"a", "b"}) {
    box.write(
        name + ".ini",
        std::string(
            "[zuqonl]\r\ndata_dir=data\r\nlog_file=shared.log\r\n[options]\r\nsync_timeout=30\r\n"
            "trade_issue=XYZ1\r\ntrade_participant=F1\r\nreport_file=" +
            name + ".txt\r\n"));
  }
  BackgroundProcess first(ZUQ_PROGRAM_PATH, {"a.ini"}, box.dir(), "a.out");
  BackgroundProcess second(ZUQ_PROGRAM_PATH, {"b.ini"}, box.dir(), "b.out");
  EXPECT_EQ(first.wait().exitStatus, 0);
  EXPECT_EQ(second.wait().exitStatus, 0);
  const std::regex wholeLine(
      "ZUQ KALDO Online\\. ZUQTradeReport v1\\.0|Copyright \\(C\\) ZUQ KALDO\\. All rights "
      "reserved\\.|\\[ZUQTradeReport\\] AddRow conn=1, rowID=[0-9]+|\\[ZUQTradeReport\\] "
      "[A-Z][^\\[]*|\\[zuqonl\\] [^\\[]*");
  const std::string log = testsupport::readTextFile(box / "shared.log");
  size_t lines = 0, rowLines = 0;
  for (size_t at = 0; at < log.size(); ++lines) {
    const size_t end = log.find('\n', at);
    ASSERT_NE(end, std::string::npos) << "the log ends within a line";
    const std::string line = log.substr(at, end - at);
    ASSERT_TRUE(std::regex_match(line, wholeLine)) << "cut line " << lines << ": " << line;
    rowLines += line.starts_with("[ZUQTradeReport] AddRow") ? 1 : 0;
    at = end + 1;
  }
  EXPECT_EQ(rowLines, 2u * kRows);
}

// --- Paths that must not hang the run or destroy its input ----------------------

// The report path naming the INI file or the table file (by any name) is
// refused: writing it would leave the next run without settings or data.
TEST(OperatorE2eTest, AReportPathThatIsTheRunsOwnInputIsRefused) {
  for (const std::string reportFile : {"test.ini", "data/Trade.csv", "./data/../test.ini"}) {
    TempDir box;
    const std::string ini = settings(reportFile);
    const std::string table = tableFile(tradeColumns(), {trade()});
    box.write("test.ini", ini);
    box.write("data/Trade.csv", table);
    const RunResult run = runReport(box);
    EXPECT_EQ(run.exitStatus, 3) << run.log;
    EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't open file '" + reportFile + "'")) << run.log;
    const std::string own = reportFile.find("Trade") != std::string::npos
                                ? "it is the table file '" + absolute(box, "data/Trade.csv") + "'"
                                : "it is the INI file 'test.ini'";
    EXPECT_EQ(lastLine(run), "[ZUQTradeReport] No report: cannot open '" +
                                 absolute(box, reportFile) + "': " + own + ", exit status 3");
    EXPECT_EQ(box.read("test.ini"), ini);
    EXPECT_EQ(box.read("data/Trade.csv"), table);
  }
}

#ifndef _WIN32
// A FIFO that no program reads, as the report or as the log file: the open
// never waits for a reader. (Windows has no such file.)
TEST(OperatorE2eTest, AFifoThatNobodyReadsHangsNothing) {
  TempDir box;
  ASSERT_EQ(mkfifo((box / "fifo").c_str(), 0600), 0);
  box.write("data/Trade.csv", tableFile(tradeColumns(), {trade()}));
  box.write("test.ini", settings("fifo"));
  RunResult run = runReport(box, "test.ini", 20);
  EXPECT_EQ(run.exitStatus, 3) << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't open file 'fifo'")) << run.log;
  EXPECT_EQ(lastLine(run), "[ZUQTradeReport] No report: cannot open '" + absolute(box, "fifo") +
                               "': No such device or address (a pipe that no program reads), "
                               "exit status 3");
  box.write("test.ini",
            "[zuqonl]\r\ndata_dir=data\r\nlog_file=fifo\r\n[options]\r\n"
            "sync_timeout=1\r\ntrade_issue=XYZ1\r\ntrade_participant=F1\r\n"
            "report_file=r.txt\r\n");
  run = runReport(box, "test.ini", 20);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(run.hasLine("[zuqonl] cannot open log file '" + absolute(box, "fifo") +
                          "': No such device or address"))
      << run.log;
}

// A log file that can take no more (a file-size limit here, a full disk
// alike): it ends with the last whole line that fitted, standard output says
// once that the file stopped and carries every line, and the run goes on to
// its report. The next run's lines start on a line of their own.
TEST(OperatorE2eTest, ALogFileThatCanNoLongerGrowEndsWithAWholeLine) {
  TempDir box;
  box.write("test.ini", settingsWithLogFile());
  Rows rows;
  for (int rev = 1; rev <= 200; ++rev) rows.push_back(trade({{"rev", std::to_string(rev)}}));
  box.write("data/Trade.csv", tableFile(tradeColumns(), rows));
  // The limit holds for every file the run writes, its captured output
  // too: the log file is nearly full already, so that the run's own lines
  // reach the limit in it alone.
  constexpr uint64_t kLimit = 64 * 1024;
  std::string earlier;
  while (earlier.size() < kLimit - 4000) earlier += "[ZUQTradeReport] an earlier run's line\n";
  box.write("run.log", earlier);
  const RunResult limited = underFileSizeLimit(kLimit, [&] { return runReport(box); });
  EXPECT_EQ(limited.exitStatus, 0) << limited.log;
  EXPECT_EQ(lastLine(limited).rfind("[ZUQTradeReport] Report complete: '" + absolute(box, "r.txt") +
                                        "', 200 trades written (200 rows received, 200 kept), ",
                                    0),
            0u)
      << lastLine(limited);
  const std::string stopped = "[zuqonl] log file '" + absolute(box, "run.log") +
                              "' can no longer be written: File too large; lines go to "
                              "standard output only";
  const std::vector<std::string> lines = limited.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), stopped), 1) << limited.log;
  const std::string first = box.read("run.log");
  EXPECT_LE(first.size(), kLimit);
  ASSERT_GT(first.size(), earlier.size());
  EXPECT_TRUE(first.ends_with("\n")) << first.substr(first.size() - 100);
  // What the file took is what standard output had, from its start.
  EXPECT_EQ(first.substr(0, earlier.size()), earlier);
  EXPECT_EQ(limited.log.substr(0, first.size() - earlier.size()), first.substr(earlier.size()));

  const RunResult next = runReport(box);
  EXPECT_EQ(next.exitStatus, 0) << next.log;
  EXPECT_EQ(box.read("run.log"), first + next.log);
}

// Standard output closed: the log file must not take its place, where every
// line would reach it twice.
TEST(OperatorE2eTest, WithStandardOutputClosedTheLogFileHoldsEachLineOnce) {
  TempDir box;
  box.write("test.ini", settingsWithLogFile());
  box.write("data/Trade.csv", tableFile(tradeColumns(), {trade()}));
  const RunResult run =
      runProgram("/bin/sh", {"-c", "exec \"$0\" test.ini >&-", ZUQ_PROGRAM_PATH}, box.dir());
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  const std::string log = box.read("run.log");
  const std::string line = "[ZUQTradeReport] AddRow conn=1, rowID=1\n";
  ASSERT_NE(log.find(line), std::string::npos) << log;
  EXPECT_EQ(log.find(line), log.rfind(line)) << log;
  EXPECT_NE(log.find("Report complete"), std::string::npos) << log;
}
// The README's cron line, run as cron runs it (by /bin/sh, in its folder):
// what it prints is what cron mails, for a complete run, a failed one and
// one skipped because the run before it still holds the lock.
TEST(OperatorE2eTest, TheReadmesCronLineMailsEveryOutcome) {
  const std::string readme = testsupport::readTextFile(ZUQ_EXAMPLES_DIR "/../README.md");
  std::smatch match;
  ASSERT_TRUE(std::regex_search(
      readme, match, std::regex("\n    30 18 \\*   \\*   1-5    cd /srv/reports (.*)\n")))
      << "no cron line in the README";
  const std::string program = std::filesystem::absolute(ZUQ_PROGRAM_PATH).string();
  const std::string line = "PATH='" + std::filesystem::path(program).parent_path().string() +
                           "':$PATH; cd . " + match[1].str();
  TempDir box;
  box.write("data/Trade.csv", tableFile(tradeColumns(), {trade()}));
  box.write("trades.ini", settings());
  RunResult cron = runProgram("/bin/sh", {"-c", line}, box.dir());
  EXPECT_EQ(cron.exitStatus, 0) << cron.log;
  ASSERT_EQ(cron.lines().size(), 1u) << cron.log;
  EXPECT_EQ(cron.lines()[0].find("[ZUQTradeReport] Report complete: "), 0u) << cron.log;

  box.write("trades.ini", settings("missing/r.txt"));
  cron = runProgram("/bin/sh", {"-c", line}, box.dir());
  ASSERT_EQ(cron.lines().size(), 2u) << cron.log;
  EXPECT_EQ(cron.lines()[0].find("[ZUQTradeReport] No report: cannot open"), 0u) << cron.log;
  EXPECT_EQ(cron.lines()[1],
            "ZUQTradeReport: exit status 3 (75: not run, the run before it still runs)");

  BackgroundProcess holder("/usr/bin/flock",
                           {"-o", ".trades.lock", "sh", "-c", "echo held; sleep 20"}, box.dir(),
                           "holder.out");
  ASSERT_TRUE(holder.waitForOutput("held")) << holder.output();
  cron = runProgram("/bin/sh", {"-c", line}, box.dir());
  holder.kill();
  ASSERT_EQ(cron.lines().size(), 1u) << cron.log;
  EXPECT_EQ(cron.lines()[0],
            "ZUQTradeReport: exit status 75 (75: not run, the run before it still runs)");
}

#endif

}  // namespace
}  // namespace e2e
