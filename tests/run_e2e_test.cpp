// The run's course: waits, notifications, failures and exit statuses.
#include <gtest/gtest.h>

#include <algorithm>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <regex>

#include "e2e_support.h"
#include "testsupport/sanitizers.h"
#include "testsupport/temp_dir.h"
#include "testsupport/wine.h"

namespace e2e {
namespace {

using testsupport::TempDir;
using Rows = std::vector<TableRow>;

TableRow op(const std::string& name, const TableRow& fields = {}) {
  TableRow row = fields;
  row["@op"] = name;
  return row;
}

TEST(RunE2eTest, CompleteRunLogsEveryStepInOrder) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\ntrade_issue=XYZ1\r\ntrade_participant=F1\r\n"
                                "trade_status=2\r\nreport_file=r.txt\r\n"));
  box.write("data/Trade.csv",
            tableFile(tradeColumns(), {trade({{"rev", "1"}}), trade({{"rev", "2"}})}));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0);
  // The folder as the library spells it: native separators.
  const std::string dataDir = std::filesystem::path(box / "data").lexically_normal().string();
  std::string log = run.log;
  const size_t at = log.find(dataDir);
  ASSERT_NE(at, std::string::npos) << log;
  log.replace(at, dataDir.size(), "<data_dir>");
  // The closing line's report path and time differ from run to run.
  const std::string report = std::filesystem::path(box / "r.txt").lexically_normal().string();
  const size_t reportAt = log.find(report);
  ASSERT_NE(reportAt, std::string::npos) << log;
  log.replace(reportAt, report.size(), "<dir>/r.txt");
#if defined(_WIN32) && !defined(_WIN64)
  // The 32-bit program's one line of its own on how it calls the library.
  log = std::regex_replace(log, std::regex("\\[ZUQTradeReport\\] Library calls: [^\n]*\n"), "");
#endif
  expectGolden("complete_run.log",
               std::regex_replace(log, std::regex("[0-9]+\\.[0-9][0-9] s\n"), "<seconds> s\n"));
}

TEST(RunE2eTest, DataServerNeverReached) {
  TempDir box;
  box.write("test.ini", "[options]\r\nsync_timeout=1\r\n");
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't connect to DS: timeout expired (1 sec)"))
      << run.log;
  EXPECT_NE(run.log.find("[zuqonl] "), std::string::npos);
  EXPECT_EQ(run.log.find("DS Connected"), std::string::npos);
  EXPECT_EQ(run.log.find("Creating trade report"), std::string::npos);
  EXPECT_FALSE(box.exists("ZUQTradeReport.txt"));
}

#ifndef _WIN32
// An INI "file" without end: read as missing, so every setting takes its
// default, and the library says why it has no data server.
TEST(RunE2eTest, EndlessIniFileIsDataServerNotReached) {
  TempDir box;
  const RunResult run = runReport(box, "/dev/zero", 30);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't connect to DS: timeout expired (10 sec)"))
      << run.log;
  EXPECT_TRUE(run.hasLine("[zuqonl] no data source: INI file '/dev/zero' is not a regular file"))
      << run.log;
}
#endif

// An INI file saved as UTF-16 ("Unicode" in an editor) is refused with a line
// that names the encoding and what to do; the program's own settings take
// their defaults, so the run waits the default ten seconds.
TEST(RunE2eTest, Utf16IniFileIsRefusedWithItsEncoding) {
  TempDir box;
  std::string utf16 = "\xFF\xFE";
  for (char c : iniFile("sync_timeout=0\r\n")) utf16 += {c, '\0'};
  box.write("test.ini", utf16);
  box.write("data/Trade.csv", tableFile(tradeColumns(), {trade()}));
  const RunResult run = runReport(box, "test.ini", 30);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(
      run.hasLine("[zuqonl] no data source: INI file 'test.ini' is saved as UTF-16 LE "
                  "(Unicode), which is not read: save it as ANSI"))
      << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't connect to DS: timeout expired (10 sec)"));
  EXPECT_FALSE(box.exists("ZUQTradeReport.txt"));
}

TEST(RunE2eTest, NegativeSyncTimeoutWaitsNoTime) {
  TempDir box;
  box.write("test.ini", "[zuqonl]\r\ndata_dir=missing\r\n[options]\r\nsync_timeout=-3\r\n");
  const RunResult run = runReport(box, "test.ini", 20);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't connect to DS: timeout expired (-3 sec)"))
      << run.log;
}

// The table never synchronizes: a stall, a malformed record after it, or a
// data server that drops and comes back while the driver waits. The wait is
// ten times the configured seconds, but the log shows the configured number.
TEST(RunE2eTest, TableNeverSynchronizes) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\n"));
  box.write("data/Trade.csv",
            tableFile(tradeColumns(), {trade({{"rev", "1"}}), op("ds_down"), op("ds_up"),
                                       op("error", {{"@text", "feed lagging"}}), op("stall"),
                                       trade({{"rev", "2"}})}));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't receive records: timeout expired (1 sec)"))
      << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] DS Disconnected"));
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Error conn=1: feed lagging"));
  EXPECT_EQ(run.log.find("rowID=2"), std::string::npos);
  EXPECT_EQ(run.log.find("Sychronized"), std::string::npos);
  EXPECT_EQ(run.log.find("Report file"), std::string::npos);
  EXPECT_FALSE(box.exists("ZUQTradeReport.txt"));
  // The closing line tells what the link did meanwhile and what the library
  // said last.
  EXPECT_TRUE(std::regex_match(
      run.lines().back(),
      std::regex("\\[ZUQTradeReport\\] No report: the table was not synchronized within 10 s; "
                 "the link to the data server was lost at [0-2][0-9]:[0-5][0-9]:[0-5][0-9] and "
                 "back at [0-2][0-9]:[0-5][0-9]:[0-5][0-9]; last Error from the library: 'feed "
                 "lagging'; no previous report, exit status 2")))
      << run.lines().back();
}

// A stop request (SIGTERM, Ctrl+C; on Windows Ctrl+Break) while the run
// waits for the data server or for the table: the run closes the
// connection and the library, and its last line names the request, whether
// an earlier report stands, and the exit status the request gives, the
// status it gave when it ended the run at once.
TEST(RunE2eTest, AStopRequestWhileWaitingEndsWithAClosingLine) {
  struct Case {
    const char* table;    // "stall": the table never synchronizes; "": no data server
    const char* earlier;  // the report standing before, or null
    int signal;
  };
  const Case cases[] = {{"stall", "the earlier report\r\n", SIGTERM},
                        {"stall", nullptr, SIGINT},
                        {"", "the earlier report\r\n", SIGTERM}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.table) + " " + std::to_string(c.signal));
    TempDir box;
    box.write("test.ini", "[zuqonl]\r\ndata_dir=" + std::string(*c.table ? "data" : "missing") +
                              "\r\n[options]\r\nsync_timeout=10\r\nreport_file=r.txt\r\n");
    box.write("data/Trade.csv", tableFile(tradeColumns(), {trade({{"rev", "1"}}), op("stall")}));
    if (c.earlier != nullptr) box.write("r.txt", c.earlier);
    BackgroundProcess run(ZUQ_PROGRAM_PATH, {"test.ini"}, box.dir(), ".run-output");
    ASSERT_TRUE(run.waitForOutput(*c.table ? "[ZUQTradeReport] AddRow conn=1, rowID=1"
                                           : "[ZUQTradeReport] Using ini path: 'test.ini'"))
        << run.output();
    run.sendSignal(c.signal);
    // The stop takes milliseconds; the wait it ends, a hundred seconds.
    const RunResult stopped = run.wait(10);
#ifdef _WIN32
    // Wine's GenerateConsoleCtrlEvent fails, even for a process attached to
    // the run's console.
    if (stopped.exitStatus == -1 && testsupport::runningUnderWine()) {
      GTEST_SKIP() << "Wine delivered no Ctrl+Break to the run: " << stopped.log;
    }
    const std::string name = "Ctrl+Break";
    const int status = -1073741510;  // 0xC000013A
    EXPECT_EQ(stopped.exitStatus, status);
#else
    const std::string name = c.signal == SIGTERM ? "SIGTERM" : "SIGINT";
    const int status = 128 + c.signal;
    EXPECT_EQ(stopped.endSignal, c.signal) << stopped.log;
#endif
    EXPECT_EQ(stopped.lines().back(),
              "[ZUQTradeReport] No report: stopped by " + name +
                  (c.earlier != nullptr ? "; previous report kept" : "; no previous report") +
                  ", exit status " + std::to_string(status))
        << stopped.log;
    EXPECT_EQ(stopped.log.find("Can't"), std::string::npos) << stopped.log;
    EXPECT_EQ(stopped.log.find("Error in WaitForSingleObject"), std::string::npos);
    EXPECT_EQ(box.exists("r.txt"), c.earlier != nullptr);
    if (c.earlier != nullptr) {
      EXPECT_EQ(box.read("r.txt"), c.earlier);
    }
  }
}

TEST(RunE2eTest, MalformedTableIsAnErrorAndNeverSynchronizes) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\n"));
  box.write("data/Trade.csv",
            tableFile(tradeColumns(), {trade({{"rev", "1"}})}) + "1,add,\"unterminated\r\n");
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_NE(run.log.find("[ZUQTradeReport] Error conn=1: "), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("Trade.csv"), std::string::npos);
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] AddRow conn=1, rowID=1"));
  EXPECT_FALSE(box.exists("ZUQTradeReport.txt"));
}

#ifndef _WIN32
// A FIFO in place of the table file: nothing blocks, the run ends within its
// waits with an Error that names the file.
TEST(RunE2eTest, FifoAsTableFileIsAnErrorWithinTheWaits) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\n"));
  box.write("data/Other.csv", "a\r\n1\r\n");
  ASSERT_EQ(mkfifo((box / "data/Trade.csv").c_str(), 0600), 0);
  const RunResult run = runReport(box, "test.ini", 30);
  EXPECT_EQ(run.exitStatus, 2) << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Error conn=1: Trade.csv: not a regular file"))
      << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't receive records: timeout expired (1 sec)"));
}
#endif

TEST(RunE2eTest, UnknownTableIsAnError) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\n"));
  box.write("data/Other.csv", "a\r\n1\r\n");
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_NE(run.log.find("[ZUQTradeReport] Error conn=1: "), std::string::npos) << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't receive records: timeout expired (1 sec)"));
}

// Unknown and unnamed codes are silent; the known ones are logged. Error,
// UpdateRow and DeleteRow change nothing in the report; a Clear before
// Synchronized discards the rows that came before it.
TEST(RunE2eTest, NotificationsAreLoggedOnlyInTheirOwnWords) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\nreport_file=out.txt\r\n"));
  Rows rows;
  for (const char* code : {"0", "13", "18", "19", "29", "-5", "2147483647"}) {
    rows.push_back(op("code", {{"@code", code}}));
  }
  rows.push_back(op("code", {{"@code", "15"}}));
  rows.push_back(trade({{"@rowid", "6"}, {"rev", "4"}, {"price", "0.5"}}));
  rows.push_back(op("clear"));
  rows.push_back(trade({{"@rowid", "7"}, {"rev", "5"}, {"price", "1.0"}}));
  rows.push_back(op("update", trade({{"@rowid", "7"}, {"rev", "5"}, {"price", "2.0"}})));
  rows.push_back(op("delete", trade({{"@rowid", "7"}, {"rev", "5"}})));
  rows.push_back(op("error", {{"@text", "100% %s %n"}}));
  rows.push_back(op("net_lost"));
  rows.push_back(op("net_ok", {{"@text", "back"}}));
  box.write("data/Trade.csv", tableFile(tradeColumns(), rows));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  const std::vector<std::string> expected = {
      "[ZUQTradeReport] NetIntegrityLost",
      "[ZUQTradeReport] AddRow conn=1, rowID=6",
      "[ZUQTradeReport] Clear conn=1",
      "[ZUQTradeReport] AddRow conn=1, rowID=7",
      "[ZUQTradeReport] UpdateRow conn=1, rowID=7",
      "[ZUQTradeReport] DeleteRow conn=1, rowID=7",
      "[ZUQTradeReport] Error conn=1: 100% %s %n",
      "[ZUQTradeReport] NetIntegrityLost",
      "[ZUQTradeReport] NetIntegrityOk: back",
      "[ZUQTradeReport] Sychronized conn=1",
  };
  std::vector<std::string> seen;
  bool afterFormat = false;
  for (const std::string& line : run.lines()) {
    if (line.starts_with("[ZUQTradeReport] Report file")) break;
    if (afterFormat) seen.push_back(line);
    if (line.starts_with("[ZUQTradeReport] Format conn=1")) afterFormat = true;
  }
  EXPECT_EQ(seen, expected) << run.log;
  const std::string report = box.read("out.txt");
  EXPECT_NE(report.find(";1.0;"), std::string::npos) << report;
  EXPECT_EQ(report.find(";0.5;"), std::string::npos) << report;
}

// Texts from the server that would end a log line and start one of the
// program's own, or steer the terminal, are written escaped; printable
// text, Latin-1 letters included, is written as it came.
TEST(RunE2eTest, ServerTextsNeverForgeLogLines) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\nreport_file=r.txt\r\n"));
  const Rows rows = {
      op("error", {{"@text", "lagging\n[ZUQTradeReport] Sychronized conn=1"}}),
      op("net_ok", {{"@text", "caf\xE9\r\n[ZUQTradeReport] Report file: 'x.txt'\x1B[2J\t\x7F"}}),
      trade(),
  };
  box.write("data/Trade.csv", tableFile(tradeColumns(), rows));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(
      run.hasLine("[ZUQTradeReport] Error conn=1: lagging\\n[ZUQTradeReport] Sychronized conn=1"))
      << run.log;
  EXPECT_TRUE(
      run.hasLine("[ZUQTradeReport] NetIntegrityOk: caf\xE9\\r\\n[ZUQTradeReport] Report "
                  "file: 'x.txt'\\x1B[2J\\t\\x7F"))
      << run.log;
  const std::vector<std::string> lines = run.lines();
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[ZUQTradeReport] Sychronized conn=1"), 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "[ZUQTradeReport] Report file: 'x.txt'"), 0);
  EXPECT_EQ(run.log.find('\x1B'), std::string::npos);
  EXPECT_EQ(std::count(run.log.begin(), run.log.end(), '\r'), 0);
}

// The closing line names the missing INI file as the reason the data
// server was not reached.
TEST(RunE2eTest, MissingIniFileRunsOnDefaults) {
  TempDir box;
  const RunResult run = runReport(box, "", 30);
  EXPECT_TRUE(
      run.hasLine(std::string("[ZUQTradeReport] Using ini path: '") + kDefaultIniPath + "'"))
      << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't connect to DS: timeout expired (10 sec)"));
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_EQ(run.lines().back(),
            std::string("[ZUQTradeReport] No report: the data server was not reached within 10 "
                        "s; the INI file '") +
                kDefaultIniPath + "' was not found; no previous report, exit status 1");
}

TEST(RunE2eTest, OnlyTheFirstArgumentIsTheIniPath) {
  TempDir box;
  box.write("test.ini", "[options]\r\nsync_timeout=0\r\n");
  const RunResult run = runProgram(ZUQ_PROGRAM_PATH, {"test.ini", "other.ini"}, box.dir());
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Using ini path: 'test.ini'")) << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't connect to DS: timeout expired (0 sec)"));
}

// A server that sends more kept trades than max_store_mb allows (here 64
// trades of 64 KiB memos against 1 MiB): the run says why, ends with status
// 2 at once and writes no report, the earlier one staying as it was. So does
// a single trade larger than the limit. Within the limit the run completes.
TEST(RunE2eTest, KeptTradesBeyondTheStoreLimitAreNoReport) {
  const std::string memo(64 * 1024, 'm');
  Rows rows;
  for (int rev = 1; rev <= 64; ++rev) {
    rows.push_back(trade({{"rev", std::to_string(rev)}, {"init_memo", memo}}));
  }
  // Two texts of the line, each within the table's limit on a field.
  const std::string large(600 * 1024, 'l');
  const Rows oneLarge = {trade({{"init_memo", large}, {"init_pair", large}})};
  const std::string line =
      "\n[ZUQTradeReport] Store limit reached: the kept trades need more than max_store_mb=1 MiB, "
      "no report is written (";
  for (const Rows& table : {rows, oneLarge}) {
    TempDir box;
    box.write("test.ini", iniFile("sync_timeout=10\r\ntrade_participant=F1\r\n"
                                  "report_file=r.txt\r\nmax_store_mb=1\r\n"));
    box.write("data/Trade.csv", tableFile(tradeColumns(), table));
    box.write("r.txt", "the earlier report\r\n");
    const RunResult run = runReport(box);
    EXPECT_EQ(run.exitStatus, 2) << run.log.substr(0, 2000);
    const size_t at = run.log.find(line);
    ASSERT_NE(at, std::string::npos) << run.log.substr(0, 2000);
    const int kept = std::stoi(run.log.substr(at + line.size()));
    EXPECT_EQ(kept, table.size() == 1 ? 0 : 15);
    EXPECT_EQ(run.log.find("Report file:"), std::string::npos);
    EXPECT_EQ(run.log.find("Can't receive records"), std::string::npos);
    EXPECT_EQ(box.read("r.txt"), "the earlier report\r\n");
    EXPECT_TRUE(run.hasLine(
        "[ZUQTradeReport] No report: the kept trades exceed max_store_mb; previous report kept, "
        "exit status 2"))
        << run.log.substr(run.log.size() > 2000 ? run.log.size() - 2000 : 0);

    box.write("test.ini", iniFile("sync_timeout=10\r\ntrade_participant=F1\r\n"
                                  "report_file=r.txt\r\nmax_store_mb=8\r\n"));
    const RunResult within = runReport(box);
    EXPECT_EQ(within.exitStatus, 0) << within.log.substr(0, 2000);
    EXPECT_EQ(within.log.find("Store limit"), std::string::npos);
  }
}

#if !defined(_WIN32)

// Trades that do not fit in memory: the run says so and ends with status 2,
// at once, and an earlier report stays as it was. The limit is the address
// space (ulimit -v), which a sanitizer's shadow memory would exceed alone.
TEST(RunE2eTest, TradesThatDoNotFitInMemoryAreNoReport) {
#ifdef ZUQ_ALLOCATOR_SANITIZED
  GTEST_SKIP() << "a sanitizer needs more address space than the limit leaves";
#endif
  TempDir box;
  box.write("test.ini",
            iniFile("sync_timeout=10\r\ntrade_participant=F1\r\nreport_file=r.txt\r\n"));
  // 40 MiB of kept memos against an address space of 48 MB in all (the
  // program, its libraries and the stacks of its threads take a part). The
  // rows are short enough for the table's reader to read each in memory it
  // already has, so that the kept trades are what runs out of memory first.
  const std::string memo(16 * 1024, 'm');
  Rows rows;
  for (int rev = 1; rev <= 2560; ++rev) {
    rows.push_back(trade({{"rev", std::to_string(rev)}, {"init_memo", memo}}));
  }
  box.write("data/Trade.csv", tableFile(tradeColumns(), rows));
  box.write("r.txt", "the earlier report\r\n");
  const RunResult run = runProgram(
      "/bin/sh", {"-c", "ulimit -v 48000 && exec \"$0\" test.ini", ZUQ_PROGRAM_PATH}, box.dir());
  EXPECT_EQ(run.exitStatus, 2) << run.log.substr(0, 2000);
  const std::string outOfMemory =
      "\n[ZUQTradeReport] Out of memory: the kept trades do not fit, no report is written (";
  const size_t at = run.log.find(outOfMemory);
  ASSERT_NE(at, std::string::npos) << run.log.substr(0, 2000);
  // As many as were kept before the memory ran out: some, not all.
  const int kept = std::stoi(run.log.substr(at + outOfMemory.size()));
  EXPECT_GT(kept, 0);
  EXPECT_LT(kept, 2560);
  EXPECT_EQ(run.log.find("Report file:"), std::string::npos);
  EXPECT_EQ(box.read("r.txt"), "the earlier report\r\n");
  EXPECT_EQ(run.lines().back(),
            "[ZUQTradeReport] No report: the kept trades did not fit in memory; previous report "
            "kept, exit status 2");
}

// Rows of 4 MB (every second one, of another firm) against an address space
// of 56 to 72 MB: the library's reader runs out of memory ahead of the
// rows. Where one row at a time fits, the table is served anyway and the
// report is exact; where it does not, the library fails as a lost link does,
// saying so, and the closing line names the memory, never a bare timeout.
TEST(RunE2eTest, ATableReaderOutOfMemoryServesRowByRowOrSaysSo) {
#ifdef ZUQ_ALLOCATOR_SANITIZED
  GTEST_SKIP() << "a sanitizer needs more address space than the limit leaves";
#endif
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\ntrade_participant=F1\r\nreport_file=r.txt\r\n"
                                "log_rows=0\r\n"));
  const std::string mega(1000 * 1000, 'm');
  Rows rows;
  for (int rev = 1; rev <= 12; ++rev) {
    if (rev % 2 == 1) {
      rows.push_back(trade({{"rev", std::to_string(rev)}}));
    } else {
      rows.push_back(trade({{"rev", std::to_string(rev)},
                            {"init_name", "F9"},
                            {"conf_name", "F8"},
                            {"init_pair", mega},
                            {"init_memo", mega},
                            {"conf_memo", mega},
                            {"trade_ref", mega}}));
    }
  }
  box.write("data/Trade.csv", tableFile(tradeColumns(), rows));
  const RunResult unlimited = runReport(box);
  ASSERT_EQ(unlimited.exitStatus, 0) << unlimited.log;
  const std::string report = box.read("r.txt");
  ASSERT_EQ(std::count(report.begin(), report.end(), '\n'), 6);
  const std::regex memoryReason(
      "\\[ZUQTradeReport\\] No report: (the table was not synchronized within 10 s; the link to "
      "the data server was lost at [0-9:]{8} and not back; last Error from the library: 'the "
      "library ran out of memory serving this table: link lost, the table is not served'|the "
      "kept trades did not fit in memory); previous report kept, exit status 2");
  int completed = 0;
  for (const int megabytes : {56, 64, 72}) {
    SCOPED_TRACE(megabytes);
    box.write("r.txt", "the earlier report\r\n");
    const RunResult run = runProgram(
        "/bin/sh",
        {"-c", "ulimit -v " + std::to_string(megabytes * 1000) + " && exec \"$0\" test.ini",
         ZUQ_PROGRAM_PATH},
        box.dir());
    EXPECT_EQ(run.log.find("stopped serving"), std::string::npos) << run.log;
    if (run.exitStatus == 0) {
      ++completed;
      EXPECT_EQ(box.read("r.txt"), report);
      continue;
    }
    EXPECT_EQ(run.exitStatus, 2) << run.log;
    EXPECT_TRUE(std::regex_match(run.lines().back(), memoryReason)) << run.log;
    if (run.log.find("not synchronized") != std::string::npos) {
      EXPECT_TRUE(run.hasLine(
          "[zuqonl] embedded data server: out of memory (std::bad_alloc), link lost: no table is "
          "served until the library is opened again"))
          << run.log;
      EXPECT_TRUE(run.hasLine("[ZUQTradeReport] NetIntegrityLost"));
    }
    EXPECT_EQ(box.read("r.txt"), "the earlier report\r\n");
  }
  EXPECT_GE(completed, 1);
}
#endif

// A table file that is still being written when the data server reaches its
// end: the last line comes once its line end is there, never cut ("101."),
// and a table file without a header line is an Error naming it, never an
// empty table whose report would replace a good one.
TEST(RunE2eTest, ATableFileBeingWrittenIsReadWholeAndAnEmptyOneIsAnError) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\nreport_file=r.txt\r\n"));
  const std::string table = tableFile(
      tradeColumns(), {trade({{"rev", "1"}}), trade({{"rev", "2"}, {"price", "101.25"}})});
  const size_t cut = table.find("101.25") + 4;
  box.write("data/Trade.csv", table.substr(0, cut));
  BackgroundProcess program(ZUQ_PROGRAM_PATH, {"test.ini"}, box.dir(), ".program-output");
  ASSERT_TRUE(program.waitForOutput("AddRow conn=1, rowID=1\n")) << program.output();
  std::ofstream(box / "data/Trade.csv", std::ios::binary | std::ios::app) << table.substr(cut);
  const RunResult run = program.wait();
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  const std::string report = box.read("r.txt");
  EXPECT_NE(report.find("101.25"), std::string::npos) << report;
  EXPECT_EQ(report.find("101.;"), std::string::npos) << report;

  box.write("data/Trade.csv", "");
  const RunResult empty = runReport(box);
  EXPECT_EQ(empty.exitStatus, 2);
  EXPECT_TRUE(
      empty.hasLine("[ZUQTradeReport] Error conn=1: Trade.csv: no header line (the file is empty)"))
      << empty.log;
  EXPECT_EQ(box.read("r.txt"), report);
}

TEST(RunE2eTest, HelpAndVersionDoNotStartTheLibrary) {
  TempDir box;
  for (const char* flag : {"-h", "--help", "/?"}) {
    const RunResult run = runProgram(ZUQ_PROGRAM_PATH, {flag}, box.dir());
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.log.find("Usage: ZUQTradeReport"), 0u) << run.log;
    EXPECT_EQ(run.log.find("[zuqonl]"), std::string::npos);
  }
  const RunResult run = runProgram(ZUQ_PROGRAM_PATH, {"--version"}, box.dir());
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.log, std::string("ZUQTradeReport v") + ZUQ_VERSION + "\n");
}

}  // namespace
}  // namespace e2e
