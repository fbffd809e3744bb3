// The report file, byte for byte, from real runs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include "e2e_support.h"

namespace e2e {
namespace {

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
  Sandbox box;
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
  Sandbox box;
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

TEST(ReportE2eTest, EmptyStoreTruncatesAnOldReport) {
  Sandbox box;
  box.write("test.ini", iniFile("sync_timeout=1\r\ntrade_participant=NOBODY\r\n"));
  box.write("data/Trade.csv", tableFile(tradeColumns(), {sample()}));
  box.write("ZUQTradeReport.txt", "old report\r\n");
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(box.read("ZUQTradeReport.txt"), "");
}

TEST(ReportE2eTest, UnopenableReportFile) {
  for (const char* path : {"missing/dir/r.txt", ""}) {
    Sandbox box;
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
  Sandbox box;
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

// The names in the sandbox's folder: a temporary file left behind shows.
std::set<std::string> folderNames(const Sandbox& box) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(box.dir())) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

// Starts a run of `ini` and returns once it is writing report `file`: the
// file has changed from `before`, or a new entry has appeared in the folder.
std::unique_ptr<BackgroundProcess> startWriting(const Sandbox& box, const std::string& ini,
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

// Runs the report of `box` with files limited to 1 MiB: a longer report
// kills the run in the middle of writing it (SIGXFSZ), or, with the signal
// ignored, makes its writes fail.
RunResult runWithFileSizeLimit(const Sandbox& box, bool ignoreSignal) {
  rlimit unlimited;
  getrlimit(RLIMIT_FSIZE, &unlimited);
  rlimit limited = unlimited;
  limited.rlim_cur = 1024 * 1024;
  setrlimit(RLIMIT_FSIZE, &limited);
  const auto previous = signal(SIGXFSZ, ignoreSignal ? SIG_IGN : SIG_DFL);
  const RunResult run = runReport(box);
  signal(SIGXFSZ, previous);
  setrlimit(RLIMIT_FSIZE, &unlimited);
  return run;
}

// A run killed while it writes, or whose writes fail, leaves the earlier
// report as it was; a failed one leaves nothing else behind.
TEST(ReportE2eTest, KilledOrFailedWhileWritingLeavesTheOldReport) {
  Sandbox box;
  box.write("test.ini",
            iniFile("sync_timeout=10\r\ntrade_participant=F1\r\nreport_file=r.txt\r\n"));
  box.write("data/Trade.csv", SlowReport(20000, "first").table);
  box.write("r.txt", "the earlier report\r\n");
  const RunResult killed = runWithFileSizeLimit(box, false);
  EXPECT_EQ(killed.exitStatus, -1) << killed.log;
  EXPECT_TRUE(killed.hasLine("[ZUQTradeReport] Report file: 'r.txt'")) << killed.log;
  EXPECT_EQ(box.read("r.txt"), "the earlier report\r\n");

  for (const std::string& name : folderNames(box)) {
    if (name.starts_with("r.txt.")) std::filesystem::remove(box.path(name));
  }
  const RunResult failed = runWithFileSizeLimit(box, true);
  EXPECT_EQ(failed.exitStatus, 3) << failed.log;
  EXPECT_TRUE(failed.hasLine("[ZUQTradeReport] Can't write file 'r.txt'")) << failed.log;
  EXPECT_EQ(box.read("r.txt"), "the earlier report\r\n");
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
    Sandbox box;
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

// A run stopped by Ctrl+C or SIGTERM while it writes removes its temporary
// file and leaves the earlier report as it was.
TEST(ReportE2eTest, AStopRequestWhileWritingLeavesNothingBehind) {
  const SlowReport slow(30000, "slow");
  const std::string earlier = "the earlier report\r\n";
  for (int signal : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(signal);
    // On a busy machine the run may finish before it is stopped; it is then
    // run again.
    for (int attempt = 0;; ++attempt) {
      if (attempt == 5) GTEST_SKIP() << "the run always finished before it could be stopped";
      Sandbox box;
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
      run->sendSignal(signal);
      run->sendSignal(SIGCONT);
      EXPECT_EQ(run->wait().exitStatus, -1);
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
  Sandbox box;
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
  Sandbox box;
  box.write("test.ini", iniFile("sync_timeout=1\r\nreport_file=link.txt\r\n"));
  box.write("data/Trade.csv", tableFile(tradeColumns(), {sample()}));
  box.write("target.txt", "old\r\n");
  chmod(box.path("target.txt").c_str(), 0604);
  std::filesystem::create_symlink("target.txt", box.path("link.txt"));
  EXPECT_EQ(runReport(box).exitStatus, 0);
  EXPECT_TRUE(std::filesystem::is_symlink(box.path("link.txt")));
  EXPECT_EQ(box.read("target.txt"), kNoFirmLine);
  struct stat status;
  ASSERT_EQ(stat(box.path("target.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0604u);

  box.write("test.ini", iniFile("sync_timeout=1\r\nreport_file=new.txt\r\n"));
  const mode_t mask = umask(027);
  EXPECT_EQ(runReport(box).exitStatus, 0);
  umask(mask);
  ASSERT_EQ(stat(box.path("new.txt").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(box.read("new.txt"), kNoFirmLine);
  EXPECT_EQ(folderNames(box),
            (std::set<std::string>{"data", "link.txt", "new.txt", "target.txt", "test.ini"}));
}

// Standard output redirected to a file is written through, as any device.
TEST(ReportE2eTest, StandardOutputAsReportIsWrittenThrough) {
  Sandbox box;
  box.write("test.ini", iniFile("sync_timeout=1\r\nreport_file=/dev/stdout\r\n"));
  box.write("data/Trade.csv", tableFile(tradeColumns(), {sample()}));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0);
  EXPECT_EQ(run.log.find(kNoFirmLine), 0u) << run.log;
  EXPECT_EQ(folderNames(box), (std::set<std::string>{"data", "test.ini"}));
}
#endif

// The bundled sample, as a newcomer runs it: a visible diff when output changes.
TEST(ReportE2eTest, BundledSampleReport) {
  Sandbox box;
  box.write("sample.ini", exampleFile("sample.ini"));
  box.write("data/Trade.csv", exampleFile("data/Trade.csv"));
  const RunResult run = runReport(box, "sample.ini");
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  expectGolden("sample-report.txt", maskHeaderStamp(box.read("sample-report.txt")));
  EXPECT_EQ(logText(box.read("sample.log")), run.log);
}

}  // namespace
}  // namespace e2e
