// The report file, byte for byte, from real runs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <set>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "e2e_support.h"
#include "testsupport/temp_dir.h"

namespace e2e {
namespace {

using testsupport::TempDir;
using Rows = std::vector<TableRow>;

constexpr char kInitiatorLine[] =
    "XYZ1;BT;COM;C001;F2;101.5;10;1015;XXX;20031217;000000042;20031215;10:30:15;D1;R1;77;BS;1;"
    "hello\r\n";
constexpr char kConfirmerLine[] =
    "XYZ1;ST;COM;C777;F1;101.5;10;1015;XXX;20031217;000000042;20031215;10:30:15;D1;R1;77;LS;1;"
    "bye\r\n";
constexpr char kNoFirmLine[] =
    "XYZ1;BT;COM;C001-C777;F1-F2;101.5;10;1015;XXX;20031217;000000042;20031215;10:30:15;D1;R1;"
    "77;LS;1;\r\n";
constexpr char kHeader[] =
    "Issue;Act;Stat;Customer;Contra;Price;Qty;Amount;Curr;Settle;Trans;Date;Time;Clr;TypeExt;"
    "TradeRef;RepoAct;Repurchase;Memo;<stamp>\r\n";

struct Report {
  RunResult run;
  std::string text;
};

Report report(const std::string& options, const Rows& rows, const std::string& file = "r.txt") {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\nreport_file=" + file + "\r\n" + options));
  box.write("data/Trade.csv", tableFile(tradeColumns(), rows));
  Report result{runReport(box), ""};
  result.text = box.read(file);
  return result;
}

TableRow sample(const TableRow& fields = {}) {
  TableRow row = trade({{"@rowid", "42"}, {"rev", "1"}});
  for (const auto& [name, value] : fields) row[name] = value;
  return row;
}

TEST(ReportE2eTest, LinesSeenFromEachSide) {
  EXPECT_EQ(report("trade_participant=F1\r\n", {sample()}).text, kInitiatorLine);
  EXPECT_EQ(report("trade_participant=F2\r\n", {sample()}).text, kConfirmerLine);
  const Report none = report("", {sample()});
  EXPECT_EQ(none.text, kNoFirmLine);
  EXPECT_EQ(none.run.exitStatus, 0);
  EXPECT_TRUE(none.run.hasLine("[ZUQTradeReport] Report file: 'r.txt'"));
  EXPECT_TRUE(
      none.run.hasLine("[ZUQTradeReport] Report options: delimeter ';', header 0, date format 0"));
}

// Every column holds a value of its own, so a row decoded with two columns
// swapped shows in the report.
TEST(ReportE2eTest, EveryColumnLandsInItsPlace) {
  const TableRow row = trade({{"@rowid", "77"},
                              {"rev", "3"},
                              {"init_name", "IN"},
                              {"init_action", "IA"},
                              {"init_pair", "IP"},
                              {"init_memo", "IM"},
                              {"conf_name", "CN"},
                              {"conf_action", "CA"},
                              {"conf_pair", "CP"},
                              {"conf_memo", "CM"},
                              {"issue_name", "ISS"},
                              {"status", "5"},
                              {"price", "PR"},
                              {"qty", "QT"},
                              {"volume", "VO"},
                              {"trade_moment", "2004-02-03 04:05:06"},
                              {"affirm_moment", "2007-08-09 10:11:12"},
                              {"price_currency", "PC"},
                              {"price_rate", "PRR"},
                              {"payment_currency", "PYC"},
                              {"payment_rate", "PYR"},
                              {"delivery_date", "2005-06-07"},
                              {"clear", "CL"},
                              {"dcc", "DC"},
                              {"type", "TY"},
                              {"type_ext", "RX"},
                              {"trade_ref", "TR"},
                              {"repo_action", "3"},
                              {"repurchase", "RP"}});
  EXPECT_EQ(report("trade_participant=IN\r\n", {row}).text,
            "ISS;IATY;CXL;IP;CN;PR;QT;VO;PYC;20050607;000000077;20040203;04:05:06;DC;RX;TR;RS;RP;"
            "IM\r\n");
  EXPECT_EQ(report("trade_participant=CN\r\n", {row}).text,
            "ISS;CATY;CXL;CP;IN;PR;QT;VO;PYC;20050607;000000077;20040203;04:05:06;DC;RX;TR;AS;RP;"
            "CM\r\n");
  EXPECT_EQ(report("", {row}).text,
            "ISS;IATY;CXL;IP-CP;IN-CN;PR;QT;VO;PYC;20050607;000000077;20040203;04:05:06;DC;RX;TR;"
            "AS;RP;\r\n");
}

TEST(ReportE2eTest, HeaderWithLocalTimeStamp) {
  const Report r = report("print_header=5\r\ndate_format=2\r\n", {});
  EXPECT_TRUE(
      r.run.hasLine("[ZUQTradeReport] Report options: delimeter ';', header 5, date format 2"));
  EXPECT_EQ(maskHeaderStamp(r.text), kHeader);
  EXPECT_NE(r.text.find("/"), std::string::npos) << r.text;  // day/month/year
  const Report plain = report("print_header=1\r\n", {sample()});
  EXPECT_EQ(maskHeaderStamp(plain.text), std::string(kHeader) + kNoFirmLine);
}

TEST(ReportE2eTest, OrderedByUnsignedRevisionFirstRowPerKeyWins) {
  Rows rows;
  for (const char* rev : {"30", "-1", "7", "12", "abc"}) {
    rows.push_back(sample({{"rev", rev}, {"trade_ref", rev}}));
  }
  rows.push_back(sample({{"rev", "7"}, {"trade_ref", "dup"}}));
  const Report r = report("field_delimeter=|\r\n", rows);
  std::vector<std::string> refs;
  for (size_t start = 0; start < r.text.size();) {
    const size_t end = r.text.find("\r\n", start);
    std::string line = r.text.substr(start, end - start);
    size_t field = 0;
    for (int i = 0; i < 15; ++i) field = line.find('|', field) + 1;
    refs.push_back(line.substr(field, line.find('|', field) - field));
    start = end + 2;
  }
  EXPECT_EQ(refs, (std::vector<std::string>{"abc", "7", "12", "30", "-1"}));
}

// An absent or empty trade_issue asks for the trades of every issue; a
// configured one for that issue's alone.
TEST(ReportE2eTest, NoIssueConfiguredReportsEveryIssue) {
  const Rows rows = {sample({{"rev", "1"}, {"issue_name", "XYZ1"}}),
                     sample({{"rev", "2"}, {"issue_name", "ABC2"}})};
  const std::string abc2 = std::string(kNoFirmLine).replace(0, 4, "ABC2");
  for (const char* options : {"", "trade_issue=\r\n"}) {
    EXPECT_EQ(report(options, rows).text, kNoFirmLine + abc2) << options;
  }
  EXPECT_EQ(report("trade_issue=ABC2\r\n", rows).text, abc2);
}

TEST(ReportE2eTest, FiltersByFirmAndStatus) {
  const Rows rows = {
      sample({{"rev", "1"}, {"init_name", "f1"}, {"trade_ref", "lower"}}),
      sample({{"rev", "2"}, {"init_name", "F1 "}, {"trade_ref", "blank"}}),
      sample({{"rev", "3"},
              {"init_name", "X"},
              {"conf_name", "F1"},
              {"type_ext", ""},
              {"trade_ref", "conf"}}),
      sample({{"rev", "4"}, {"type_ext", "R"}, {"status", "3"}, {"trade_ref", "repo3"}}),
      sample({{"rev", "5"}, {"type_ext", "R"}, {"status", "2"}, {"trade_ref", "repo2"}}),
      sample({{"rev", "6"}, {"type_ext", "r"}, {"status", "2"}, {"trade_ref", "plain2"}}),
      sample({{"rev", "7"}, {"type_ext", ""}, {"status", "3"}, {"trade_ref", "plain3"}}),
      sample({{"rev", "8"},
              {"init_name", "F1"},
              {"conf_name", "F1"},
              {"type_ext", ""},
              {"trade_ref", "both"}}),
      // A row the filters drop does not hold its key for a later one.
      sample({{"rev", "9"}, {"init_name", "F9"}, {"conf_name", "F8"}, {"trade_ref", "other"}}),
      sample({{"rev", "9"}, {"type_ext", ""}, {"trade_ref", "later"}}),
  };
  const Report r = report("trade_participant=F1\r\ntrade_status=2\r\nrepotrade_status=3\r\n", rows);
  EXPECT_EQ(r.run.exitStatus, 0);
  EXPECT_TRUE(r.run.hasLine("[ZUQTradeReport] Creating trade report for firm 'F1', status 2"));
  EXPECT_EQ(r.text,
            "XYZ1;ST;COM;C777;X;101.5;10;1015;XXX;20031217;000000042;20031215;10:30:15;D1;;"
            "conf;;1;bye\r\n"
            "XYZ1;BT;VXI;C001;F2;101.5;10;1015;XXX;20031217;000000042;20031215;10:30:15;D1;R;"
            "repo3;BS;1;hello\r\n"
            "XYZ1;BT;COM;C001;F2;101.5;10;1015;XXX;20031217;000000042;20031215;10:30:15;D1;r;"
            "plain2;;1;hello\r\n"
            "XYZ1;BT;COM;C001-C777;F1-F1;101.5;10;1015;XXX;20031217;000000042;20031215;10:30:15;"
            "D1;;both;;1;hello\r\n"
            "XYZ1;BT;COM;C001;F2;101.5;10;1015;XXX;20031217;000000042;20031215;10:30:15;D1;;"
            "later;;1;hello\r\n");
}

TEST(ReportE2eTest, UnknownCodesAndAwkwardTexts) {
  const Rows rows = {
      sample({{"rev", "1"}, {"status", "6"}, {"repo_action", "4"}, {"init_memo", "a\nb"}}),
      sample({{"rev", "2"},
              {"status", "-1"},
              {"repo_action", ""},
              {"init_pair", ""},
              {"conf_pair", ""},
              {"trade_moment", "not a date"},
              {"delivery_date", ""}}),
  };
  const Report r = report("trade_participant=F1\r\n", rows);
  EXPECT_EQ(r.text,
            "XYZ1;BT;???;C001;F2;101.5;10;1015;XXX;20031217;000000042;20031215;10:30:15;D1;R1;77;"
            "??;1;a\r\nb\r\n"
            "XYZ1;BT;???;;F2;101.5;10;1015;XXX;00000000;000000042;00000000;00:00:00;D1;R1;77;??;"
            "1;hello\r\n");
}

TEST(ReportE2eTest, DelimitersAsConfigured) {
  const Report quoted = report("field_delimeter=\" | \"\r\ntrade_participant=F1\r\n", {sample()});
  EXPECT_EQ(quoted.text,
            "XYZ1 | BT | COM | C001 | F2 | 101.5 | 10 | 1015 | XXX | 20031217 | 000000042 | "
            "20031215 | 10:30:15 | D1 | R1 | 77 | BS | 1 | hello\r\n");
  EXPECT_TRUE(quoted.run.hasLine(
      "[ZUQTradeReport] Report options: delimeter ' | ', header 0, date format 0"));
  const Report empty = report("field_delimeter=\r\nprint_header=1\r\n", {sample()});
  const std::string names =
      "IssueActStatCustomerContraPriceQtyAmountCurrSettleTransDateTimeClrTypeExtTradeRef"
      "RepoActRepurchaseMemo";
  EXPECT_EQ(empty.text.substr(0, names.size()), names);
  // The time stamp follows "Memo" directly.
  EXPECT_TRUE(isdigit(static_cast<unsigned char>(empty.text[names.size()])));
  EXPECT_NE(empty.text.find("\r\nXYZ1BTCOMC001-C777F1-F2101.5"), std::string::npos);
}

TEST(ReportE2eTest, DateFormatTwoIsDayMonthYear) {
  EXPECT_EQ(report("date_format=2\r\ntrade_participant=F1\r\n", {sample()}).text,
            "XYZ1;BT;COM;C001;F2;101.5;10;1015;XXX;17/12/2003;000000042;15/12/2003;10:30:15;D1;R1;"
            "77;BS;1;hello\r\n");
}

// A table file saved with a UTF-8 byte order mark before its first column,
// "rev": every trade keeps its revision and the report is whole.
TEST(ReportE2eTest, TableFileWithByteOrderMarkGivesTheWholeReport) {
  std::vector<std::string> columns = tradeColumns();
  std::erase(columns, "rev");
  columns.insert(columns.begin(), "rev");
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\ntrade_participant=F1\r\n"));
  box.write("data/Trade.csv",
            "\xEF\xBB\xBF" + tableFile(columns, {sample({{"rev", "2"}, {"trade_ref", "two"}}),
                                                 sample({{"rev", "1"}, {"trade_ref", "one"}})}));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  const std::string line = kInitiatorLine;
  const size_t ref = line.find(";77;");
  EXPECT_EQ(box.read("ZUQTradeReport.txt"), line.substr(0, ref) + ";one;" + line.substr(ref + 4) +
                                                line.substr(0, ref) + ";two;" +
                                                line.substr(ref + 4));
}

// The names in the test folder, or in its folder `sub`: a temporary file
// left behind shows.
std::set<std::string> folderNames(const TempDir& box, const std::string& sub = "") {
  std::set<std::string> names;
  for (const auto& entry :
       std::filesystem::directory_iterator(sub.empty() ? box.dir() : box / sub)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

constexpr char kEarlier[] = "the earlier report\r\n";

// A test folder whose run writes the report `file` of one trade (kNoFirmLine).
std::unique_ptr<TempDir> oneTradeBox(const std::string& file) {
  auto box = std::make_unique<TempDir>();
  box->write("test.ini", iniFile("sync_timeout=1\r\nreport_file=" + file + "\r\n"));
  box->write("data/Trade.csv", tableFile(tradeColumns(), {sample()}));
  return box;
}

TEST(ReportE2eTest, EmptyStoreTruncatesAnOldReport) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\ntrade_participant=NOBODY\r\n"));
  box.write("data/Trade.csv", tableFile(tradeColumns(), {sample()}));
  box.write("ZUQTradeReport.txt", "old report\r\n");
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(box.read("ZUQTradeReport.txt"), "");
}

TEST(ReportE2eTest, UnopenableReportFile) {
  for (const char* path : {"missing/dir/r.txt", ""}) {
    TempDir box;
    box.write("test.ini", iniFile(std::string("sync_timeout=1\r\nreport_file=") + path + "\r\n"));
    box.write("data/Trade.csv", tableFile(tradeColumns(), {sample()}));
    const RunResult run = runReport(box);
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_TRUE(run.hasLine(std::string("[ZUQTradeReport] Can't open file '") + path + "'"))
        << run.log;
    EXPECT_EQ(run.log.find("Can't write"), std::string::npos);
  }
}

#ifndef _WIN32
// A device that takes no bytes: POSIX only, Windows has none.
TEST(ReportE2eTest, FullDeviceIsNeverASuccess) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\nreport_file=/dev/full\r\n"));
  box.write("data/Trade.csv", tableFile(tradeColumns(), {sample()}));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 3);
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't write file '/dev/full'")) << run.log;
  EXPECT_NE(run.log.find("Sychronized"), std::string::npos);
}
#endif

#ifndef _WIN32
// A report that takes a while to write: `rows` trades of firm F1 with the
// memo `memo`.
struct SlowReport {
  SlowReport(int rows, const std::string& memo) {
    Rows lines;
    for (int i = 1; i <= rows; ++i) {
      lines.push_back(trade({{"rev", std::to_string(i)}, {"init_memo", memo}}));
      char trans[16];
      std::snprintf(trans, sizeof trans, "%09d", i);
      text += std::string("XYZ1;BT;COM;C001;F2;101.5;10;1015;XXX;20031217;") + trans +
              ";20031215;10:30:15;D1;R1;77;BS;1;" + memo + "\r\n";
    }
    table = tableFile(tradeColumns(), lines);
  }
  std::string table;
  std::string text;  // the whole report
};

// Starts a run of `ini` and returns once it is writing report `file`: the
// file has changed from `before`, or a new entry has appeared in the folder.
std::unique_ptr<BackgroundProcess> startWriting(const TempDir& box, const std::string& ini,
                                                const std::string& file,
                                                const std::string& before) {
  const std::string output = "." + ini + "-output";
  auto entries = [&] { return folderNames(box).size() - folderNames(box).count(output); };
  const size_t known = entries();
  auto run = std::make_unique<BackgroundProcess>(ZUQ_PROGRAM_PATH, std::vector<std::string>{ini},
                                                 box.dir(), output);
  EXPECT_TRUE(run->waitForOutput("[ZUQTradeReport] Report file: '" + file + "'")) << run->output();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (entries() == known && box.read(file) == before) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the run never began writing " << file;
      break;
    }
  }
  return run;
}

// Runs `run` with files limited to 1 MiB: a longer report outgrows the limit.
RunResult underFileSizeLimit(const std::function<RunResult()>& run) {
  return e2e::underFileSizeLimit(1024 * 1024, run);
}

// A report of about 1.6 MB, with a log well within 1 MiB.
SlowReport overOneMebibyte() { return SlowReport(12000, std::string(40, 'm')); }

// A report that outgrows the file-size limit (`ulimit -f`): its writes fail
// rather than the signal ending the run, which ends with status 3, removes
// its temporary file and leaves the earlier report as it was.
TEST(ReportE2eTest, AFileSizeLimitFailsTheRunAndKeepsTheOldReport) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\ntrade_participant=F1\r\nreport_file=r.txt\r\n"));
  box.write("data/Trade.csv", overOneMebibyte().table);
  box.write("r.txt", kEarlier);
  const RunResult run = underFileSizeLimit([&] { return runReport(box); });
  EXPECT_EQ(run.exitStatus, 3) << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't write file 'r.txt'")) << run.log;
  // The run's closing line gives the system's reason.
  EXPECT_EQ(run.lines().back(),
            "[ZUQTradeReport] No report: cannot write '" +
                std::filesystem::path(box / "r.txt").lexically_normal().string() +
                "': File too large; previous report kept, exit status 3");
  EXPECT_EQ(box.read("r.txt"), kEarlier);
  EXPECT_EQ(folderNames(box), (std::set<std::string>{"data", "r.txt", "test.ini"}));
}

// Two runs writing one report path: each leaves a whole report, and the one
// that finishes last wins, even when the first stops in the middle.
TEST(ReportE2eTest, TwoRunsOnOneReportPathLastToFinishWins) {
  const SlowReport slow(30000, "slow");
  const SlowReport quick(1, "quick");
  const std::string options = "sync_timeout=10\r\ntrade_participant=F1\r\nreport_file=r.txt\r\n";
  // The first run is to be stopped while it writes; on a busy machine it may
  // finish before the signal lands, and is then run again.
  for (int attempt = 0; attempt < 5; ++attempt) {
    TempDir box;
    box.write("slow.ini", "[zuqonl]\r\ndata_dir=slow\r\n[options]\r\n" + options);
    box.write("quick.ini", "[zuqonl]\r\ndata_dir=quick\r\n[options]\r\n" + options);
    box.write("slow/Trade.csv", slow.table);
    box.write("quick/Trade.csv", quick.table);
    auto first = startWriting(box, "slow.ini", "r.txt", "");
    first->sendSignal(SIGSTOP);
    if (box.read("r.txt") == slow.text) {
      first->sendSignal(SIGCONT);
      continue;
    }
    const RunResult second = runReport(box, "quick.ini");
    EXPECT_EQ(second.exitStatus, 0) << second.log;
    EXPECT_EQ(box.read("r.txt"), quick.text);
    first->sendSignal(SIGCONT);
    EXPECT_EQ(first->wait().exitStatus, 0);
    const std::string last = box.read("r.txt");
    EXPECT_TRUE(last == slow.text) << last.size() << " bytes: " << last.substr(0, 200);
    return;
  }
  GTEST_SKIP() << "the first run always finished before it could be stopped";
}

// The stop signals, with the names and exit statuses the closing line gives.
struct StopSignal {
  int number;
  const char* name;
  int status;
};
constexpr StopSignal kStopSignals[] = {{SIGTERM, "SIGTERM", 143},
                                       {SIGINT, "SIGINT", 130},
                                       {SIGHUP, "SIGHUP", 129},
                                       {SIGQUIT, "SIGQUIT", 131}};

// A run stopped while it writes (Ctrl+C, SIGTERM, the terminal closed with
// SIGHUP, Ctrl+\ with SIGQUIT) removes its temporary file, leaves the
// earlier report as it was, says so in its closing line and ends by the
// signal, as the signal would have ended it at once.
TEST(ReportE2eTest, AStopRequestWhileWritingLeavesNothingBehind) {
  const SlowReport slow(30000, "slow");
  const std::string earlier = "the earlier report\r\n";
  const NoCoreDumps noCore;
  for (const StopSignal& signal : kStopSignals) {
    SCOPED_TRACE(signal.name);
    // On a busy machine the run may finish before it is stopped; it is then
    // run again.
    for (int attempt = 0;; ++attempt) {
      if (attempt == 5) GTEST_SKIP() << "the run always finished before it could be stopped";
      TempDir box;
      box.write("test.ini",
                iniFile("sync_timeout=10\r\ntrade_participant=F1\r\nreport_file=r.txt\r\n"));
      box.write("data/Trade.csv", slow.table);
      box.write("r.txt", earlier);
      auto run = startWriting(box, "test.ini", "r.txt", earlier);
      run->sendSignal(SIGSTOP);
      if (box.read("r.txt") != earlier) {
        run->sendSignal(SIGCONT);
        continue;
      }
      run->sendSignal(signal.number);
      run->sendSignal(SIGCONT);
      const RunResult stopped = run->wait();
      EXPECT_EQ(stopped.endSignal, signal.number) << stopped.log;
      // Stopped between its last look at the requests and the move into
      // place, the run puts its whole report there and says so: run again.
      if (stopped.lines().back().starts_with(std::string("[ZUQTradeReport] Stopped by ") +
                                             signal.name + " after the report was written")) {
        EXPECT_TRUE(box.read("r.txt") == slow.text);
        continue;
      }
      EXPECT_EQ(stopped.lines().back(), std::string("[ZUQTradeReport] No report: stopped by ") +
                                            signal.name + "; previous report kept, exit status " +
                                            std::to_string(signal.status));
      EXPECT_EQ(stopped.log.find("Can't write"), std::string::npos) << stopped.log;
      EXPECT_EQ(box.read("r.txt"), earlier);
      EXPECT_EQ(folderNames(box),
                (std::set<std::string>{".test.ini-output", "data", "r.txt", "test.ini"}));
      break;
    }
  }
}

// The reader of the log goes away after the first line (`| head -1`): the
// run goes on, writes the whole report and ends with the status it earned.
TEST(ReportE2eTest, LogReaderGoneCostsNothing) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\nreport_file=r.txt\r\n"));
  box.write("data/Trade.csv", tableFile(tradeColumns(), {sample()}));
  const RunResult run = runWithLogReaderGone(ZUQ_PROGRAM_PATH, {"test.ini"}, box.dir(), 10);
  EXPECT_EQ(run.log, "ZUQ KALDO ");
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(box.read("r.txt"), kNoFirmLine);
}

// The report replaces a regular file (keeping its mode) or a symbolic
// link's target (keeping the link); a new one gets the mode the umask gives.
TEST(ReportE2eTest, ReplacedReportKeepsModeAndLink) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\nreport_file=link.txt\r\n"));
  box.write("data/Trade.csv", tableFile(tradeColumns(), {sample()}));
  box.write("target.txt", "old\r\n");
  chmod((box / "target.txt").c_str(), 0604);
  std::filesystem::create_symlink("target.txt", box / "link.txt");
  EXPECT_EQ(runReport(box).exitStatus, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(box / "link.txt"));
  EXPECT_EQ(box.read("target.txt"), kNoFirmLine);
  struct stat status;
  ASSERT_EQ(stat((box / "target.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0604u);

  box.write("test.ini", iniFile("sync_timeout=1\r\nreport_file=new.txt\r\n"));
  const mode_t mask = umask(027);
  EXPECT_EQ(runReport(box).exitStatus, 0);
  umask(mask);
  ASSERT_EQ(stat((box / "new.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(box.read("new.txt"), kNoFirmLine);
  EXPECT_EQ(folderNames(box),
            (std::set<std::string>{"data", "link.txt", "new.txt", "target.txt", "test.ini"}));
}

// The right to write the report, as an ordinary user has it: the run starts
// as `nobody` when the tests run as root.
#define SKIP_WITHOUT_ORDINARY_USER()                                       \
  if (const std::string why = OrdinaryUser::unavailable(); !why.empty()) { \
    GTEST_SKIP() << why;                                                   \
  }

struct stat statusOf(const TempDir& box, const std::string& name) {
  struct stat status {};
  EXPECT_EQ(stat((box / name).c_str(), &status), 0) << name;
  return status;
}

// A report this user may not write (read-only) is refused as the open for
// writing that empties it would refuse it: "Can't open file", status 3, the
// file as it was and no temporary file. Root may write it, and replaces it.
TEST(ReportE2eTest, AReportTheUserMayNotWriteIsRefused) {
  SKIP_WITHOUT_ORDINARY_USER();
  auto box = oneTradeBox("r.txt");
  box->write("r.txt", kEarlier);
  OrdinaryUser::give(box->dir());
  chmod((*box / "r.txt").c_str(), 0444);
  const RunResult run = OrdinaryUser::runReport(*box);
  EXPECT_EQ(run.exitStatus, 3) << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't open file 'r.txt'")) << run.log;
  EXPECT_EQ(run.log.find("Can't write"), std::string::npos);
  EXPECT_EQ(box->read("r.txt"), kEarlier);
  EXPECT_EQ(folderNames(*box), (std::set<std::string>{"data", "r.txt", "test.ini"}));

  if (!OrdinaryUser::testsRunAsRoot()) return;
  EXPECT_EQ(runReport(*box).exitStatus, 0);
  EXPECT_EQ(box->read("r.txt"), kNoFirmLine);
  EXPECT_EQ(statusOf(*box, "r.txt").st_mode & 07777, 0444u);
}

// Another user's report in a folder anyone may write to, with or without the
// sticky bit (as /tmp has it): refused the same way, its bytes and owner
// kept, no temporary file made.
TEST(ReportE2eTest, AnotherUsersReportIsRefused) {
  if (!OrdinaryUser::testsRunAsRoot()) GTEST_SKIP() << "another user's file needs root";
  SKIP_WITHOUT_ORDINARY_USER();
  for (mode_t folderMode : {0777, 01777}) {
    SCOPED_TRACE(folderMode);
    auto box = oneTradeBox("shared/r.txt");
    OrdinaryUser::give(box->dir());
    box->write("shared/r.txt", kEarlier);
    chmod((*box / "shared/r.txt").c_str(), 0644);
    chmod((*box / "shared").c_str(), folderMode);
    const RunResult run = OrdinaryUser::runReport(*box);
    EXPECT_EQ(run.exitStatus, 3) << run.log;
    EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't open file 'shared/r.txt'")) << run.log;
    EXPECT_EQ(run.log.find("Can't write"), std::string::npos);
    EXPECT_EQ(box->read("shared/r.txt"), kEarlier);
    EXPECT_EQ(statusOf(*box, "shared/r.txt").st_uid, 0u);
    EXPECT_EQ(folderNames(*box, "shared"), (std::set<std::string>{"r.txt"}));
  }
}

// Another user's report that anyone may write, in a folder with the sticky
// bit: written, but in place, as only its owner may replace it there. It
// keeps its owner and mode.
TEST(ReportE2eTest, AnotherUsersWritableReportInAStickyFolderIsRewrittenInPlace) {
  if (!OrdinaryUser::testsRunAsRoot()) GTEST_SKIP() << "another user's file needs root";
  SKIP_WITHOUT_ORDINARY_USER();
  auto box = oneTradeBox("shared/r.txt");
  OrdinaryUser::give(box->dir());
  box->write("shared/r.txt", kEarlier);
  chmod((*box / "shared/r.txt").c_str(), 0666);
  chmod((*box / "shared").c_str(), 01777);
  const RunResult run = OrdinaryUser::runReport(*box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(box->read("shared/r.txt"), kNoFirmLine);
  const struct stat status = statusOf(*box, "shared/r.txt");
  EXPECT_EQ(status.st_uid, 0u);
  EXPECT_EQ(status.st_mode & 07777, 0666u);
  EXPECT_EQ(folderNames(*box, "shared"), (std::set<std::string>{"r.txt"}));
}

// A folder this user may not write to, for as long as the object lives (so
// that the test folder can be removed afterwards).
class ClosedFolder {
 public:
  explicit ClosedFolder(std::string path) : path_(std::move(path)) { chmod(path_.c_str(), 0555); }
  ~ClosedFolder() { chmod(path_.c_str(), 0755); }
  ClosedFolder(const ClosedFolder&) = delete;
  ClosedFolder& operator=(const ClosedFolder&) = delete;

 private:
  std::string path_;
};

// A report of this user's own in a folder where it may not create files (a
// shared folder of pre-created reports): it cannot be replaced, so it is
// rewritten in place, but only once the whole report is known to fit. A
// report that outgrows the file-size limit fails the run and leaves the
// earlier one whole.
TEST(ReportE2eTest, AReportInAFolderClosedToTheUserIsRewrittenInPlaceOnlyWhole) {
  SKIP_WITHOUT_ORDINARY_USER();
  const SlowReport report = overOneMebibyte();
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\ntrade_participant=F1\r\n"
                                "report_file=shared/r.txt\r\n"));
  box.write("data/Trade.csv", report.table);
  box.write("shared/r.txt", kEarlier);
  OrdinaryUser::give(box.dir());
  const ClosedFolder shared(box / "shared");
  const ino_t file = statusOf(box, "shared/r.txt").st_ino;

  const RunResult limited = underFileSizeLimit([&] { return OrdinaryUser::runReport(box); });
  EXPECT_EQ(limited.exitStatus, 3) << limited.log;
  EXPECT_TRUE(limited.hasLine("[ZUQTradeReport] Can't write file 'shared/r.txt'")) << limited.log;
  EXPECT_EQ(box.read("shared/r.txt"), kEarlier);

  const RunResult run = OrdinaryUser::runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(box.read("shared/r.txt"), report.text);
  EXPECT_EQ(statusOf(box, "shared/r.txt").st_ino, file);
  EXPECT_EQ(folderNames(box, "shared"), (std::set<std::string>{"r.txt"}));
}

// The same on a full disk (a small file system of the run's own): the space
// for the new report is asked for before the old one is touched, and is
// refused, so the run ends with status 3 and the report is whole.
TEST(ReportE2eTest, AReportRewrittenInPlaceOnAFullDiskIsKeptWhole) {
  if (!OrdinaryUser::testsRunAsRoot()) GTEST_SKIP() << "mounting a file system needs root";
  SKIP_WITHOUT_ORDINARY_USER();
  const passwd* user = getpwnam("nobody");
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\ntrade_participant=F1\r\n"
                                "report_file=shared/r.txt\r\n"));
  box.write("data/Trade.csv", SlowReport(2000, "full").table);
  box.write("earlier.txt", kEarlier);
  std::filesystem::create_directory(box / "shared");
  OrdinaryUser::give(box.dir());
  // In a mount namespace of its own, so that the file system goes with it.
  const std::string script =
      "mount -t tmpfs -o size=64k,mode=0755 zuq-full shared || exit 125\n"
      ": > mounted\n"
      "cp earlier.txt shared/r.txt && chown " +
      std::to_string(user->pw_uid) + ":" + std::to_string(user->pw_gid) +
      " shared/r.txt || exit 125\n"
      "\"$@\"\n"
      "status=$?\n"
      "cat shared/r.txt > after.txt\n"
      "ls -A shared > names.txt\n"
      "exit $status\n";
  std::vector<std::string> args = {"--mount", "/bin/sh", "-c", script, "sh"};
  for (const std::string& arg : OrdinaryUser::commandLine({"test.ini"})) args.push_back(arg);
  const RunResult run = runProgram("/usr/bin/unshare", args, box.dir());
  if (!box.exists("mounted"))
    GTEST_SKIP() << "no file system of its own can be mounted: " << run.log;
  EXPECT_EQ(run.exitStatus, 3) << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't write file 'shared/r.txt'")) << run.log;
  EXPECT_EQ(box.read("after.txt"), kEarlier);
  EXPECT_EQ(box.read("names.txt"), "r.txt\n");
}

// Run as root, the new report keeps the owner, group and mode of the one it
// replaces. A hard link to the old report keeps the old content: the report
// is a new file.
TEST(ReportE2eTest, AsRootTheReplacedReportKeepsItsOwnerAndGroup) {
  if (!OrdinaryUser::testsRunAsRoot()) GTEST_SKIP() << "giving a file away needs root";
  const passwd* user = getpwnam("nobody");
  if (user == nullptr) GTEST_SKIP() << "no user nobody";
  auto box = oneTradeBox("r.txt");
  box->write("r.txt", kEarlier);
  ASSERT_EQ(chown((*box / "r.txt").c_str(), user->pw_uid, user->pw_gid), 0);
  chmod((*box / "r.txt").c_str(), 0640);
  std::filesystem::create_hard_link(*box / "r.txt", *box / "link.txt");
  const RunResult run = runReport(*box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(box->read("r.txt"), kNoFirmLine);
  const struct stat status = statusOf(*box, "r.txt");
  EXPECT_EQ(status.st_uid, user->pw_uid);
  EXPECT_EQ(status.st_gid, user->pw_gid);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(box->read("link.txt"), kEarlier);
}

// A report whose name takes all 255 bytes a name may have still goes
// through its temporary file, which has a short name of its own: it is
// replaced whole (a hard link keeps the old one), never rewritten in place,
// and no temporary file is left.
TEST(ReportE2eTest, AReportOfTheLongestNameGoesThroughItsTemporaryFile) {
  const std::string name = std::string(251, 'r') + ".txt";
  auto box = oneTradeBox(name);
  box->write(name, kEarlier);
  std::filesystem::create_hard_link(*box / name, *box / "link.txt");
  const RunResult run = runReport(*box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(box->read(name), kNoFirmLine);
  EXPECT_EQ(box->read("link.txt"), kEarlier);
  EXPECT_EQ(folderNames(*box), (std::set<std::string>{"data", "link.txt", name, "test.ini"}));
}

// An exclusive lock on a file, as another run writing it in place holds it,
// until the object goes or release() is called.
class FileLock {
 public:
  explicit FileLock(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    EXPECT_GE(fd_, 0) << path;
    EXPECT_EQ(flock(fd_, LOCK_EX), 0);
  }
  ~FileLock() { release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  void release() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// A report rewritten in place is locked for the write: a run that finds it
// locked by another waits for it as long as for the data server
// (sync_timeout), then fails with status 3 and leaves the file alone, so
// that two runs never mix their lines in it. Let go in time, it is written.
TEST(ReportE2eTest, AReportRewrittenInPlaceWaitsForAnotherWritersLock) {
  SKIP_WITHOUT_ORDINARY_USER();
  const SlowReport report(200, "locked");
  TempDir box;
  box.write("short.ini", iniFile("sync_timeout=1\r\ntrade_participant=F1\r\n"
                                 "report_file=shared/r.txt\r\n"));
  box.write("long.ini", iniFile("sync_timeout=30\r\ntrade_participant=F1\r\n"
                                "report_file=shared/r.txt\r\n"));
  box.write("data/Trade.csv", report.table);
  box.write("shared/r.txt", kEarlier);
  OrdinaryUser::give(box.dir());
  const ClosedFolder shared(box / "shared");
  FileLock lock(box / "shared/r.txt");

  const RunResult refused = OrdinaryUser::runReport(box, "short.ini");
  EXPECT_EQ(refused.exitStatus, 3) << refused.log;
  EXPECT_TRUE(
      refused.hasLine("[ZUQTradeReport] Report file 'shared/r.txt' is locked by another "
                      "run: not written after waiting 1000 ms"))
      << refused.log;
  EXPECT_TRUE(refused.hasLine("[ZUQTradeReport] Can't write file 'shared/r.txt'")) << refused.log;
  EXPECT_EQ(box.read("shared/r.txt"), kEarlier);

  const std::vector<std::string> command = OrdinaryUser::commandLine({"long.ini"});
  BackgroundProcess waiting(command.front(), {command.begin() + 1, command.end()}, box.dir(),
                            ".long-output");
  ASSERT_TRUE(waiting.waitForOutput("[ZUQTradeReport] Report file: 'shared/r.txt'"))
      << waiting.output();
  EXPECT_EQ(box.read("shared/r.txt"), kEarlier);
  lock.release();
  const RunResult run = waiting.wait();
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(box.read("shared/r.txt"), report.text);
  EXPECT_EQ(folderNames(box, "shared"), (std::set<std::string>{"r.txt"}));
}

// A report rewritten in place is past saving once its new length is taken,
// until its last byte: stop requests that come meanwhile, one or several,
// wait for the report to stand whole, and the run then stops as the first
// asked. Signals at random moments of the copy never leave it cut.
TEST(ReportE2eTest, StopRequestsDuringAnInPlaceRewriteNeverCutTheReport) {
  SKIP_WITHOUT_ORDINARY_USER();
  const SlowReport report(20000, std::string(200, 'p'));
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=10\r\ntrade_participant=F1\r\nlog_rows=0\r\n"
                                "report_file=shared/r.txt\r\n"));
  box.write("data/Trade.csv", report.table);
  box.write("shared/r.txt", kEarlier);
  OrdinaryUser::give(box.dir());
  const ClosedFolder shared(box / "shared");
  const std::vector<std::string> command = OrdinaryUser::commandLine({"test.ini"});
  const std::string path = std::filesystem::path(box / "shared/r.txt").lexically_normal().string();
  auto size = [&] {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 ? static_cast<size_t>(status.st_size) : 0;
  };
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 6; ++attempt) {
    SCOPED_TRACE(attempt);
    box.write("shared/r.txt", kEarlier);
    BackgroundProcess run(command.front(), {command.begin() + 1, command.end()}, box.dir(),
                          ".run-output");
    // The copy begins once the report has its new length.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (size() != report.text.size() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::yield();
    }
    ASSERT_EQ(size(), report.text.size()) << run.output();
    const int count = 1 + static_cast<int>(random() % 3);
    std::set<int> sent;
    const StopSignal* first = nullptr;
    for (int n = 0; n < count; ++n) {
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 800));
      const StopSignal& signal = kStopSignals[random() % 3];  // not SIGQUIT
      if (first == nullptr) first = &signal;
      run.sendSignal(signal.number);
      sent.insert(signal.number);
    }
    const RunResult stopped = run.wait();
    const std::string text = box.read("shared/r.txt");
    ASSERT_TRUE(text == report.text)
        << text.size() << " bytes, " << count << " signals: " << text.substr(0, 200);
    EXPECT_EQ(sent.count(stopped.endSignal), 1u) << stopped.endSignal << "\n" << stopped.log;
    if (count > 1) continue;  // a later signal may end the run before its closing line
    EXPECT_EQ(stopped.endSignal, first->number);
    const std::string last = stopped.lines().back();
    EXPECT_TRUE(last.starts_with(std::string("[ZUQTradeReport] Stopped by ") + first->name +
                                 " after the report was written: '" + path +
                                 "', 20000 trades "
                                 "written (20000 rows received, 20000 kept), "))
        << last;
    EXPECT_TRUE(last.ends_with(" s, exit status " + std::to_string(first->status))) << last;
  }
  EXPECT_EQ(folderNames(box, "shared"), (std::set<std::string>{"r.txt"}));
}

// Standard output redirected to a file is written through, as any device.
TEST(ReportE2eTest, StandardOutputAsReportIsWrittenThrough) {
  TempDir box;
  box.write("test.ini", iniFile("sync_timeout=1\r\nreport_file=/dev/stdout\r\n"));
  box.write("data/Trade.csv", tableFile(tradeColumns(), {sample()}));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.log.find(kNoFirmLine), 0u) << run.log;
  EXPECT_EQ(folderNames(box), (std::set<std::string>{"data", "test.ini"}));
}
#endif

#ifdef _WIN32
// A read-only report, or one another program holds open without letting
// others write it: refused as the open for writing that empties it would
// refuse it, with "Can't open file", status 3, and the file as it was.
TEST(ReportE2eTest, AReadOnlyOrHeldReportIsRefused) {
  auto box = oneTradeBox("r.txt");
  box->write("r.txt", kEarlier);
  const std::string path = *box / "r.txt";
  auto expectRefused = [&](const RunResult& run) {
    EXPECT_EQ(run.exitStatus, 3) << run.log;
    EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't open file 'r.txt'")) << run.log;
    EXPECT_EQ(run.log.find("Can't write"), std::string::npos);
    EXPECT_EQ(box->read("r.txt"), kEarlier);
    EXPECT_EQ(folderNames(*box), (std::set<std::string>{"data", "r.txt", "test.ini"}));
  };
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  expectRefused(runReport(*box));
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);

  const HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  expectRefused(runReport(*box));
  CloseHandle(held);
}

// A report another program holds open letting others write but not replace
// it (as a viewer may): rewritten in place.
TEST(ReportE2eTest, AReportHeldOpenByAnotherProgramIsRewrittenInPlace) {
  auto box = oneTradeBox("r.txt");
  box->write("r.txt", kEarlier);
  const HANDLE held =
      CreateFileA((*box / "r.txt").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const RunResult run = runReport(*box);
  CloseHandle(held);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(box->read("r.txt"), kNoFirmLine);
  EXPECT_EQ(folderNames(*box), (std::set<std::string>{"data", "r.txt", "test.ini"}));
}

// A report rewritten in place is locked for the write (LockFileEx): a run
// that finds it locked by another waits for it as long as for the data
// server, then fails with status 3 and leaves the file alone. Let go in
// time, it is written.
TEST(ReportE2eTest, AReportRewrittenInPlaceWaitsForAnotherWritersLock) {
  auto box = oneTradeBox("r.txt");
  box->write("long.ini", iniFile("sync_timeout=30\r\nreport_file=r.txt\r\n"));
  box->write("r.txt", kEarlier);
  const HANDLE held =
      CreateFileA((*box / "r.txt").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  OVERLAPPED whole{};
  ASSERT_TRUE(LockFileEx(held, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole));

  const RunResult refused = runReport(*box);
  EXPECT_EQ(refused.exitStatus, 3) << refused.log;
  EXPECT_TRUE(
      refused.hasLine("[ZUQTradeReport] Report file 'r.txt' is locked by another run: "
                      "not written after waiting 1000 ms"))
      << refused.log;
  EXPECT_EQ(box->read("r.txt"), kEarlier);

  BackgroundProcess waiting(ZUQ_PROGRAM_PATH, {"long.ini"}, box->dir(), ".long-output");
  ASSERT_TRUE(waiting.waitForOutput("[ZUQTradeReport] Report file: 'r.txt'")) << waiting.output();
  UnlockFileEx(held, 0, MAXDWORD, MAXDWORD, &whole);
  const RunResult run = waiting.wait();
  CloseHandle(held);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(box->read("r.txt"), kNoFirmLine);
}
#endif

// The bundled sample, as a newcomer runs it: a visible diff when output changes.
TEST(ReportE2eTest, BundledSampleReport) {
  TempDir box;
  box.write("sample.ini", exampleFile("sample.ini"));
  box.write("data/Trade.csv", exampleFile("data/Trade.csv"));
  const RunResult run = runReport(box, "sample.ini");
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  expectGolden("sample-report.txt", maskHeaderStamp(box.read("sample-report.txt")));
  EXPECT_EQ(testsupport::readTextFile(box / "sample.log"), run.log);
}

}  // namespace
}  // namespace e2e
