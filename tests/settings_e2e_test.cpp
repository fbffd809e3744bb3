// Mistakes an operator makes in the INI file and on the command line: a
// misspelt key or section that would change the run refuses it before
// anything is connected or written; one that changes nothing stays a
// warning; --check, wherever it stands, finds what a run would fail on.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "e2e_support.h"
#include "testsupport/temp_dir.h"

namespace e2e {
namespace {

using testsupport::TempDir;

constexpr char kEarlier[] = "yesterday's report\r\n";

std::string lastLine(const RunResult& run) {
  const std::vector<std::string> lines = run.lines();
  return lines.empty() ? "" : lines.back();
}

// Fills `box` with the table of one trade of firm F1, an earlier report r.txt
// and the INI file test.ini: the library's section (data_dir, log_file
// run.log), then `options` as the rest of the file.
void fill(const TempDir& box, const std::string& options) {
  box.write("test.ini", "[zuqonl]\r\ndata_dir=data\r\nlog_file=run.log\r\n" + options);
  box.write("data/Trade.csv", tableFile(tradeColumns(), {trade()}));
  box.write("r.txt", kEarlier);
}

RunResult check(const TempDir& box, const std::vector<std::string>& args) {
  return runProgram(ZUQ_PROGRAM_PATH, args, box.dir());
}

// --- Misspellings that would change the run -----------------------------------

// A misspelt key whose value the run would not take: yesterday's report
// would be replaced by every firm's trades. The run ends before the library
// is opened, its lines in the log file too, the report untouched.
TEST(SettingsE2eTest, AMisspeltKeyThatWouldChangeTheRunRefusesIt) {
  TempDir box;
  fill(box,
       "[options]\r\nsync_timeout=1\r\ntrade_issue=XYZ1\r\ntrade_particpant=F1\r\n"
       "report_file=r.txt\r\n");
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 4) << run.log;
  EXPECT_TRUE(
      run.hasLine("[ZUQTradeReport] Warning: unknown key 'trade_particpant' in [options] is "
                  "ignored: did you mean 'trade_participant'?"))
      << run.log;
  const std::string closing =
      "[ZUQTradeReport] No report: 'trade_particpant=F1' is not a key: trade_participant is "
      "absent, so the trades of every firm would be reported; correct the name, or remove the "
      "line; previous report kept, exit status 4";
  EXPECT_EQ(lastLine(run), closing) << run.log;
  EXPECT_EQ(run.log.find("DS Connected"), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("Creating trade report"), std::string::npos) << run.log;
  EXPECT_EQ(box.read("r.txt"), kEarlier);
  EXPECT_NE(box.read("run.log").find(closing), std::string::npos);
  EXPECT_NE(box.read("run.log").find("Warning: unknown key 'trade_particpant'"), std::string::npos);
}

// Each kind of key: the words name what the run would take instead.
TEST(SettingsE2eTest, TheRefusalNamesTheValueTheRunWouldTakeInstead) {
  struct Case {
    std::string line;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"report_flie=out.txt",
       "'report_flie=out.txt' is not a key: report_file is absent, so report_file would be "
       "'ZUQTradeReport.txt'"},
      {"sync_timout=30",
       "'sync_timout=30' is not a key: sync_timeout is absent, so sync_timeout would be 10"},
      {"field_delimiter=|",
       "'field_delimiter=|' is not a key: field_delimeter is absent, so field_delimeter would "
       "be ';'"},
      {"trade_stauts=7",
       "'trade_stauts=7' is not a key: trade_status is absent, so trades of every status would "
       "be kept"},
  };
  for (const Case& each : cases) {
    TempDir box;
    fill(box, "[options]\r\ntrade_issue=XYZ1\r\ntrade_participant=F1\r\n" + each.line + "\r\n");
    const RunResult run = runReport(box);
    EXPECT_EQ(run.exitStatus, 4) << run.log;
    EXPECT_EQ(lastLine(run),
              "[ZUQTradeReport] No report: " + each.reason +
                  "; correct the name, or remove the line; no previous report, exit status 4")
        << run.log;
    EXPECT_FALSE(box.exists("ZUQTradeReport.txt"));
  }
}

// A misspelt section: every setting would take its default, and one of its
// keys says otherwise.
TEST(SettingsE2eTest, AMisspeltSectionThatWouldChangeTheRunRefusesIt) {
  for (const std::string section : {"option", "optoins", " Option "}) {
    TempDir box;
    fill(box, "[" + section + "]\r\nsync_timeout=1\r\ntrade_participant=F1\r\n");
    const RunResult run = runReport(box);
    EXPECT_EQ(run.exitStatus, 4) << run.log;
    EXPECT_TRUE(run.hasLine(
        "[ZUQTradeReport] Warning: no section [options] in 'test.ini': every setting takes its "
        "default"))
        << run.log;
    const std::string name = section == " Option " ? "Option" : section;
    EXPECT_EQ(lastLine(run),
              "[ZUQTradeReport] No report: there is no section [options], but [" + name +
                  "] holds 'sync_timeout=1': every setting takes its default, so sync_timeout "
                  "would be 10; correct the section's name; no previous report, exit status 4")
        << run.log;
    EXPECT_EQ(run.log.find("DS Connected"), std::string::npos) << run.log;
    EXPECT_FALSE(box.exists("ZUQTradeReport.txt"));
  }
}

// --- Misspellings that change nothing stay warnings ----------------------------

// INI files that ran before keep running: a misspelt key whose value is the
// one the run takes anyway, a misspelt section that sets only defaults, a
// key far from every known one (it may be the library's), a misspelling of a
// key that is given as well.
TEST(SettingsE2eTest, MisspellingsThatChangeNothingStayWarnings) {
  const std::vector<std::string> inis = {
      "[options]\r\nsync_timeout=1\r\ntrade_issue=XYZ1\r\ntrade_participant=F1\r\n"
      "report_file=r.txt\r\nfield_delimiter=;\r\nprint_heade=0\r\ncolour=blue\r\n"
      "trade_participnt=F2\r\n",
      "[optoins]\r\nfield_delimeter=;\r\ntrade_status=0\r\n[options]\r\nsync_timeout=1\r\n"
      "trade_issue=XYZ1\r\ntrade_participant=F1\r\nreport_file=r.txt\r\n",
  };
  for (const std::string& ini : inis) {
    TempDir box;
    fill(box, ini);
    const RunResult run = runReport(box);
    EXPECT_EQ(run.exitStatus, 0) << run.log;
    EXPECT_NE(lastLine(run).find("[ZUQTradeReport] Report complete: "), std::string::npos)
        << run.log;
    EXPECT_EQ(box.read("r.txt").substr(0, 5), "XYZ1;");
  }
  // A misspelt section holding defaults only: warned of, and the run goes on
  // with every default.
  TempDir box;
  fill(box, "[option]\r\nfield_delimeter=;\r\nsync_timeout=10\r\n");
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(run.hasLine(
      "[ZUQTradeReport] Warning: no section [options] in 'test.ini': every setting takes its "
      "default"))
      << run.log;
  EXPECT_EQ(box.read("ZUQTradeReport.txt").substr(0, 5), "XYZ1;");
}

// --- --check ------------------------------------------------------------------

// After the INI file as before it: checked, not run.
TEST(SettingsE2eTest, CheckIsRecognisedInAnyPosition) {
  TempDir box;
  fill(box,
       "[options]\r\nsync_timeout=1\r\ntrade_issue=XYZ1\r\ntrade_participant=F1\r\n"
       "report_file=r.txt\r\n");
  for (const std::vector<std::string>& args : {std::vector<std::string>{"test.ini", "--check"},
                                               {"--check", "test.ini"},
                                               {"test.ini", "--check", "more"}}) {
    const RunResult run = check(box, args);
    EXPECT_EQ(run.exitStatus, 0) << run.log;
    EXPECT_NE(run.log.find("Checking 'test.ini' as a run reads it"), std::string::npos) << run.log;
    EXPECT_EQ(run.log.find("DS Connected"), std::string::npos) << run.log;
    EXPECT_EQ(box.read("r.txt"), kEarlier);
    EXPECT_FALSE(box.exists("run.log"));
  }
}

// What a run is sure to fail on: a misspelling it refuses, waits of no
// time, a log file whose folder is missing, a server that is no HOST:PORT.
TEST(SettingsE2eTest, CheckFindsWhatARunIsSureToFailOn) {
  TempDir box;
  box.write("test.ini",
            "[zuqonl]\r\ndata_dir=data\r\nlog_file=logs/run.log\r\n[options]\r\n"
            "sync_timeout=0\r\ntrade_issue=XYZ1\r\ntrade_particpant=F1\r\nreport_file=r.txt\r\n");
  box.write("data/Trade.csv", tableFile(tradeColumns(), {trade()}));
  RunResult run = check(box, {"--check", "test.ini"});
  EXPECT_EQ(run.exitStatus, 4) << run.log;
  EXPECT_TRUE(
      run.hasLine("problem: 'trade_particpant=F1' is not a key: trade_participant is absent, so "
                  "the trades of every firm would be reported; correct the name, or remove the "
                  "line (a run refuses to start)"))
      << run.log;
  EXPECT_NE(run.log.find("problem: sync_timeout=0: a run does not wait"), std::string::npos)
      << run.log;
  const std::string logs = std::filesystem::path(box / "logs").lexically_normal().string();
  EXPECT_NE(run.log.find("problem: log_file folder '" + logs), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("No such file or directory; a run's lines go to standard output only"),
            std::string::npos)
      << run.log;
  EXPECT_FALSE(box.exists("logs"));

  for (const std::string server : {"::1:7415", "localhost", "host:0", "host:65536", "[::1]7415"}) {
    box.write("test.ini", "[zuqonl]\r\nserver=" + server +
                              "\r\n[options]\r\nsync_timeout=1\r\ntrade_issue=XYZ1\r\n"
                              "trade_participant=F1\r\nreport_file=r.txt\r\n");
    run = check(box, {"--check", "test.ini"});
    EXPECT_EQ(run.exitStatus, 4) << server;
    EXPECT_NE(run.log.find("problem: server '" + server + "' is not HOST:PORT"), std::string::npos)
        << run.log;
  }
  box.write("test.ini",
            "[zuqonl]\r\nserver=[::1]:7415\r\nlog_file=run.log\r\n[options]\r\nsync_timeout=1\r\n"
            "trade_issue=XYZ1\r\ntrade_participant=F1\r\nreport_file=r.txt\r\n");
  run = check(box, {"--check", "test.ini"});
  EXPECT_EQ(run.exitStatus, 0) << run.log;
}

#ifndef _WIN32
// A report this user may not replace: a run would fail on it with status 3.
TEST(SettingsE2eTest, CheckFindsAReportTheUserMayNotReplace) {
  if (const std::string why = OrdinaryUser::unavailable(); !why.empty()) GTEST_SKIP() << why;
  TempDir box;
  fill(box,
       "[options]\r\nsync_timeout=1\r\ntrade_issue=XYZ1\r\ntrade_participant=F1\r\n"
       "report_file=r.txt\r\n");
  OrdinaryUser::give(box.dir());
  chmod((box / "r.txt").c_str(), 0444);
  std::vector<std::string> args = OrdinaryUser::commandLine({"--check", "test.ini"});
  const std::string program = args.front();
  args.erase(args.begin());
  const RunResult run = runProgram(program, args, box.dir());
  EXPECT_EQ(run.exitStatus, 4) << run.log;
  const std::string report = std::filesystem::path(box / "r.txt").lexically_normal().string();
  EXPECT_TRUE(run.hasLine("problem: the report '" + report +
                          "' exists and this user may not replace it: Permission denied"))
      << run.log;
  EXPECT_EQ(box.read("r.txt"), kEarlier);
}
#endif

}  // namespace
}  // namespace e2e
