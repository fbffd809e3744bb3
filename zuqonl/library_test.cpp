// The library through its C interface, as a program uses it.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <functional>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_recorder.h"
#include "testsupport/temp_dir.h"
#include "zuqonl.h"

namespace zuqonl {
namespace {

using testing::codesOf;
using testing::hasCode;
using testing::hasRows;
using testing::Received;
using testing::Recorder;
using testing::recordingCallback;
using testsupport::readTextFile;
using testsupport::TempDir;
using testsupport::writeFile;

std::string bigTable(int rows) {
  std::string text = "id,issue_name,price\n";
  for (int i = 0; i < rows; ++i) text += std::to_string(i) + ",ISSUE,100.5\n";
  return text;
}

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::g_recorder = &recorder_;
    writeFile(dir_ / "data/Small.csv", "id,issue_name,price\n1,A,10\n2,B,20\n");
    writeIni("[zuqonl]\ndata_dir=data\nlog_file=zuqonl.log\n");
    zuqonlRegisterCallback(recordingCallback);
  }
  void TearDown() override {
    zuqonlClose();
    EXPECT_EQ(recorder_.lateNotifications, 0);
  }

  void writeIni(const std::string& text) {
    writeFile(dir_ / "test.ini", text);
    zuqonlSetIniPath((dir_ / "test.ini").c_str());
  }
  void openAndWaitConnected() {
    ASSERT_EQ(zuqonlOpen(), 1);
    ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_DS_CONNECTED)));
  }
  void closeLibrary() {
    zuqonlClose();
    recorder_.libraryClosed = true;
  }
  int32_t subscribe(const char* table, const char* columns = "id,price") {
    return zuqonlOpenConnection(1, table, columns, "issue_name", "", "", 0);
  }

  TempDir dir_;
  Recorder recorder_;
};

TEST_F(LibraryTest, DeliversLinkStateThenTheTableInRequestedOrder) {
  writeFile(dir_ / "data/Trade.csv", "a,b,c\n1,2,3\n4,5,6\n");
  openAndWaitConnected();
  ASSERT_EQ(zuqonlOpenConnection(1, "Trade", "c,a,nosuch", "", "", "", 0), 1);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 1)));
  closeLibrary();

  std::vector<Received> all = recorder_.snapshot();
  ASSERT_EQ(all.size(), 7u);
  EXPECT_EQ(all[0].code, ZUQONL_NET_INTEGRITY_OK);
  EXPECT_EQ(all[0].text, "embedded data server, data_dir '" + (dir_ / "data") + "'");
  EXPECT_EQ(all[1].code, ZUQONL_DS_CONNECTED);
  EXPECT_EQ(codesOf(all, 1), (std::vector<int32_t>{ZUQONL_CONNECTED, ZUQONL_FORMAT, ZUQONL_ADD_ROW,
                                                   ZUQONL_ADD_ROW, ZUQONL_SYNCHRONIZED}));
  EXPECT_EQ(all[3].count, 3);
  EXPECT_EQ(all[3].text, "c,a,nosuch");
  EXPECT_EQ(all[4].rowId, 1);
  EXPECT_EQ(all[5].rowId, 2);
  EXPECT_EQ(all[5].values[0], "6");
  EXPECT_EQ(all[5].values[1], "4");
  EXPECT_EQ(all[5].values[2], "");
  for (size_t i = 3; i < ZUQONL_ROW_VALUES; ++i) EXPECT_FALSE(all[5].values[i].has_value()) << i;
}

TEST_F(LibraryTest, KeyRangeAndHandlesCountUp) {
  openAndWaitConnected();
  EXPECT_EQ(zuqonlOpenConnection(1, "Small", "price", "issue_name", "B", "B", 0), 1);
  EXPECT_EQ(zuqonlOpenConnection(1, "Small", nullptr, nullptr, nullptr, nullptr, 0), 2);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 1)));
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 2)));
  closeLibrary();

  std::vector<Received> all = recorder_.snapshot();
  std::vector<Received> rows1, rows2;
  for (const Received& r : all) {
    if (r.code == ZUQONL_ADD_ROW) (r.conn == 1 ? rows1 : rows2).push_back(r);
    if (r.code == ZUQONL_FORMAT && r.conn == 2) {
      EXPECT_EQ(r.count, 0);
    }
  }
  ASSERT_EQ(rows1.size(), 1u);
  EXPECT_EQ(rows1[0].rowId, 2);
  EXPECT_EQ(rows1[0].values[0], "20");
  ASSERT_EQ(rows2.size(), 2u);
  EXPECT_FALSE(rows2[0].values[0].has_value());
}

TEST_F(LibraryTest, ScriptedEventsBecomeTheirNotifications) {
  writeFile(dir_ / "data/Script.csv",
            "@op,@text,@ms,@code,a\n"
            "add,,,,x\nupdate,,,,y\ndelete,,,,z\nclear,,,,\nerror,boom,,,\npause,,1,,\n"
            "ds_down,,,,\nds_up,,,,\nnet_lost,,,,\nnet_ok,back,,,\ncode,,,99,\n");
  openAndWaitConnected();
  ASSERT_EQ(subscribe("Script", "a"), 1);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 1)));
  closeLibrary();

  std::vector<Received> all = recorder_.snapshot();
  std::vector<int32_t> codes;
  for (size_t i = 2; i < all.size(); ++i) codes.push_back(all[i].code);
  EXPECT_EQ(codes, (std::vector<int32_t>{27, 22, 23, 24, 25, 21, 20, 17, 16, 15, 14, 99, 26}));
  EXPECT_EQ(all[5].values[0], "y");
  EXPECT_EQ(all[8].text, "boom");
  EXPECT_EQ(all[8].conn, 1);
  EXPECT_EQ(all[12].text, "back");
}

TEST_F(LibraryTest, OnlyTheFirst28ColumnsFitARow) {
  std::string header, row, columns;
  for (int i = 0; i < 30; ++i) {
    header += (i ? "," : "") + ("c" + std::to_string(i));
    row += (i ? "," : "") + std::to_string(i);
  }
  writeFile(dir_ / "data/Wide.csv", header + "\n" + row + "\n");
  openAndWaitConnected();
  ASSERT_EQ(subscribe("Wide", header.c_str()), 1);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 1)));
  closeLibrary();

  std::vector<Received> all = recorder_.snapshot();
  EXPECT_EQ(all[3].count, 30);
  ASSERT_EQ(all[4].code, ZUQONL_ADD_ROW);
  EXPECT_EQ(all[4].values[0], "0");
  EXPECT_EQ(all[4].values[27], "27");
}

TEST_F(LibraryTest, UnknownTableGetsAnErrorAndNoSynchronized) {
  openAndWaitConnected();
  ASSERT_EQ(subscribe("Nope"), 1);
  ASSERT_EQ(subscribe("Small"), 2);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 2)));
  closeLibrary();

  std::vector<Received> all = recorder_.snapshot();
  EXPECT_EQ(codesOf(all, 1), std::vector<int32_t>{ZUQONL_ERROR});
  for (const Received& r : all) {
    if (r.code == ZUQONL_ERROR) {
      EXPECT_EQ(r.text, "unknown table 'Nope'");
    }
  }
}

TEST_F(LibraryTest, WithoutADataSourceLogsWhyAndNeverConnects) {
  struct Case {
    std::string ini;
    std::string why;
  };
  for (const Case& c :
       {Case{"[zuqonl]\nlog_file=zuqonl.log\n", "neither \"server\" nor \"data_dir\""},
        Case{"[zuqonl]\ndata_dir=absent\nlog_file=zuqonl.log\n",
             "data_dir '" + (dir_ / "absent") + "' cannot be read"}}) {
    writeIni(c.ini);
    std::string before = readTextFile(dir_ / "zuqonl.log");
    ASSERT_EQ(zuqonlOpen(), 1);
    EXPECT_EQ(subscribe("Small"), 1);
    zuqonlClose();
    std::string added = readTextFile(dir_ / "zuqonl.log").substr(before.size());
    EXPECT_EQ(added.rfind("[zuqonl] no data source: ", 0), 0u) << added;
    EXPECT_NE(added.find(c.why), std::string::npos) << added;
    EXPECT_EQ(std::count(added.begin(), added.end(), '\n'), 1) << added;
  }
  EXPECT_TRUE(recorder_.snapshot().empty());
}

TEST_F(LibraryTest, CloseWhileRowsAreDeliveredIsSafe) {
  writeFile(dir_ / "data/Big.csv", bigTable(200000));
  openAndWaitConnected();
  ASSERT_EQ(subscribe("Big"), 1);
  ASSERT_TRUE(recorder_.waitFor(hasRows(1, 100)));
  closeLibrary();
  EXPECT_EQ(zuqonlClose(), 1);
}

TEST_F(LibraryTest, CloseIsSafeWithoutOpenBeforeAnyConnectionAndTwice) {
  EXPECT_EQ(zuqonlClose(), 1);
  openAndWaitConnected();
  EXPECT_EQ(zuqonlOpen(), 0);
  closeLibrary();
  EXPECT_EQ(zuqonlClose(), 1);
  EXPECT_EQ(subscribe("Small"), 0);
  EXPECT_EQ(zuqonlCloseConnection(1), 0);
}

TEST_F(LibraryTest, ReopenStartsOverWithHandleOne) {
  openAndWaitConnected();
  EXPECT_EQ(subscribe("Small"), 1);
  zuqonlClose();
  {
    std::lock_guard lock(recorder_.mutex);
    recorder_.received.clear();
  }
  openAndWaitConnected();
  EXPECT_EQ(subscribe("Small"), 1);
  EXPECT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 1)));
}

TEST_F(LibraryTest, CloseConnectionStopsItsDelivery) {
  writeFile(dir_ / "data/Big.csv", bigTable(200000));
  openAndWaitConnected();
  ASSERT_EQ(subscribe("Big"), 1);
  ASSERT_TRUE(recorder_.waitFor(hasRows(1, 100)));
  EXPECT_EQ(zuqonlCloseConnection(1), 1);
  recorder_.closedConn = 1;
  EXPECT_EQ(zuqonlCloseConnection(1), 0);
  ASSERT_EQ(subscribe("Small"), 2);
  EXPECT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 2)));
}

// A close from another thread while rows stream in waits for a callback in
// progress for the handle, and none starts for it after the close returned.
TEST_F(LibraryTest, CloseConnectionDuringABurstWaitsForTheCallbackAndEndsItsRows) {
  writeFile(dir_ / "data/Big.csv", bigTable(200000));
  std::atomic<bool> inCallback{false};
  std::atomic<bool> closeReturned{false};
  std::atomic<int> late{0};
  recorder_.onNotification = [&](const Received& r) {
    if (r.conn != 1) return;
    if (closeReturned) ++late;
    inCallback = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    inCallback = false;
  };
  openAndWaitConnected();
  ASSERT_EQ(subscribe("Big"), 1);
  ASSERT_TRUE(recorder_.waitFor(hasRows(1, 3)));
  EXPECT_EQ(zuqonlCloseConnection(1), 1);
  EXPECT_FALSE(inCallback);
  closeReturned = true;
  ASSERT_EQ(subscribe("Small"), 2);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 2)));
  closeLibrary();
  EXPECT_EQ(late, 0);
}

TEST_F(LibraryTest, CloseConnectionFromInsideTheCallback) {
  writeFile(dir_ / "data/Big.csv", bigTable(1000));
  recorder_.onNotification = [this](const Received& r) {
    if (r.code == ZUQONL_ADD_ROW && r.conn == 1 && recorder_.closedConn == 0) {
      EXPECT_EQ(zuqonlCloseConnection(1), 1);
      recorder_.closedConn = 1;
    }
  };
  openAndWaitConnected();
  ASSERT_EQ(subscribe("Big"), 1);
  ASSERT_TRUE(recorder_.waitFor(hasRows(1, 1)));
  ASSERT_EQ(subscribe("Small"), 2);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 2)));
  closeLibrary();
  EXPECT_EQ(codesOf(recorder_.snapshot(), 1),
            (std::vector<int32_t>{ZUQONL_CONNECTED, ZUQONL_FORMAT, ZUQONL_ADD_ROW}));
}

TEST_F(LibraryTest, CloseFromInsideTheCallbackStopsEverything) {
  writeFile(dir_ / "data/Big.csv", bigTable(1000));
  recorder_.onNotification = [this](const Received& r) {
    if (r.code == ZUQONL_ADD_ROW && !recorder_.libraryClosed) {
      zuqonlClose();
      recorder_.libraryClosed = true;
    }
  };
  openAndWaitConnected();
  ASSERT_EQ(subscribe("Big"), 1);
  ASSERT_TRUE(recorder_.waitFor(hasRows(1, 1)));
  // Closing from outside as well joins the thread that stopped itself.
  EXPECT_EQ(zuqonlClose(), 1);
  EXPECT_EQ(codesOf(recorder_.snapshot(), 1),
            (std::vector<int32_t>{ZUQONL_CONNECTED, ZUQONL_FORMAT, ZUQONL_ADD_ROW}));

  recorder_.onNotification = nullptr;
  recorder_.libraryClosed = false;
  openAndWaitConnected();
  EXPECT_EQ(subscribe("Small"), 1);
  EXPECT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 1)));
}

TEST_F(LibraryTest, APausedConnectionHoldsUpNoOtherAndCloseCutsThePauseShort) {
  writeFile(dir_ / "data/Slow.csv", "@op,@ms,id\npause,3600000,\n,,1\n");
  openAndWaitConnected();
  ASSERT_EQ(subscribe("Slow"), 1);
  ASSERT_EQ(subscribe("Small"), 2);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 2)));
  closeLibrary();
  EXPECT_FALSE(hasRows(1, 1)(recorder_.snapshot()));
}

TEST_F(LibraryTest, LogFileGetsEveryThreadsLinesWhole) {
  writeIni("[zuqonl]\ndata_dir=data\nlog_file=logs/../run.log\n");
  std::string longLine(5000, 'x');
  zuqonlPrintf("first %d\n", 1);
  zuqonlPrintf("%s\n", longLine.c_str());
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t) {
    writers.emplace_back([t] {
      for (int i = 0; i < 200; ++i) zuqonlPrintf("writer %d line %d %s\n", t, i, "abcdefghij");
    });
  }
  for (std::thread& writer : writers) writer.join();
  zuqonlClose();

  std::string log = readTextFile(dir_ / "run.log");
  EXPECT_EQ(log.rfind("first 1\n" + longLine + "\n", 0), 0u);
  std::istringstream lines(log);
  std::string line;
  int writerLines = 0;
  while (std::getline(lines, line)) {
    if (line.rfind("writer ", 0) != 0) continue;
    ++writerLines;
    EXPECT_EQ(line.substr(line.size() - 11), " abcdefghij") << line;
  }
  EXPECT_EQ(writerLines, 800);
}

// Plain formats take a quicker road than vsnprintf; one that turns out not to
// be plain halfway through is formatted whole from its first argument again.
TEST_F(LibraryTest, LoggedTextIsThatOfVsnprintf) {
  writeIni("[zuqonl]\ndata_dir=data\nlog_file=run.log\n");
  EXPECT_EQ(zuqonlPrintf("a %d %s %u%%\n", -12, "x", 7u), 11);
  EXPECT_EQ(zuqonlPrintf("b %d %s %5d|%s\n", 3, "y", 42, "z"), 14);
  EXPECT_EQ(zuqonlPrintf("c %s\n", std::string(1500, 'w').c_str()), 1503);
  zuqonlClose();
  EXPECT_EQ(readTextFile(dir_ / "run.log"),
            "a -12 x 7%\nb 3 y    42|z\nc " + std::string(1500, 'w') + "\n");
}

TEST_F(LibraryTest, LogFileHasTheCallbacksLinesAfterClose) {
  recorder_.onNotification = [](const Received& r) {
    zuqonlPrintf("seen %d conn=%d\n", r.code, r.conn);
  };
  openAndWaitConnected();
  ASSERT_EQ(subscribe("Small"), 1);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 1)));
  closeLibrary();
  EXPECT_NE(readTextFile(dir_ / "zuqonl.log").find("seen 16 conn=0\nseen 27 conn=1\n"),
            std::string::npos);
  EXPECT_NE(readTextFile(dir_ / "zuqonl.log").find("seen 26 conn=1\n"), std::string::npos);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZUQONL_TEST_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define ZUQONL_TEST_ASAN 1
#endif

#ifdef ZUQONL_TEST_ASAN
std::mutex g_keptMutex;
std::condition_variable g_keptChanged;
const char* g_keptValue = nullptr;  // guarded by g_keptMutex

void ZUQONL_CALL keepingCallback(int32_t code, void* data) {
  if (code != ZUQONL_ADD_ROW) return;
  std::lock_guard lock(g_keptMutex);
  g_keptValue = static_cast<RowNotice*>(data)->values[0];
  g_keptChanged.notify_all();
}

// A program that keeps a text past its callback reads freed memory.
void readValueKeptPastTheCallback() {
  TempDir dir;
  writeFile(dir / "data/Small.csv", "id\n1\n");
  writeFile(dir / "test.ini", "[zuqonl]\ndata_dir=data\n");
  zuqonlSetIniPath((dir / "test.ini").c_str());
  zuqonlRegisterCallback(keepingCallback);
  zuqonlOpen();
  zuqonlOpenConnection(1, "Small", "id", "", "", "", 0);
  {
    std::unique_lock lock(g_keptMutex);
    g_keptChanged.wait_for(lock, std::chrono::seconds(10), [] { return g_keptValue != nullptr; });
  }
  zuqonlClose();
  std::lock_guard lock(g_keptMutex);
  std::printf("kept '%s'\n", g_keptValue);
}

// A program that reads, in one row's callback, a text it kept from the row
// before: the block that row lived in is poisoned until the row after next.
const char* g_previousValue = nullptr;  // notification thread only
std::atomic<bool> g_compared{false};

void ZUQONL_CALL comparingCallback(int32_t code, void* data) {
  if (code != ZUQONL_ADD_ROW) return;
  const char* value = static_cast<RowNotice*>(data)->values[0];
  if (g_previousValue != nullptr) {
    std::printf("%d\n", std::strcmp(g_previousValue, value));
    g_compared = true;
  }
  g_previousValue = value;
}

void readPreviousRowInTheNextCallback() {
  TempDir dir;
  writeFile(dir / "data/Small.csv", "id\n1\n2\n");
  writeFile(dir / "test.ini", "[zuqonl]\ndata_dir=data\n");
  zuqonlSetIniPath((dir / "test.ini").c_str());
  zuqonlRegisterCallback(comparingCallback);
  zuqonlOpen();
  zuqonlOpenConnection(1, "Small", "id", "", "", "", 0);
  for (int i = 0; i < 1000 && !g_compared; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  zuqonlClose();
}
#endif

TEST(LibraryRecordLifetime, TextsAreFreedWhenTheCallbackReturns) {
#ifdef ZUQONL_TEST_ASAN
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(readValueKeptPastTheCallback(), "heap-use-after-free");
#else
  GTEST_SKIP() << "needs the address sanitizer";
#endif
}

TEST(LibraryRecordLifetime, TextsOfTheRowBeforeAreCaughtInTheNextCallback) {
#ifdef ZUQONL_TEST_ASAN
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(readPreviousRowInTheNextCallback(), "use-after-poison");
#else
  GTEST_SKIP() << "needs the address sanitizer";
#endif
}

TEST(LibraryDateTime, ParsesThroughTheCInterface) {
  DateTimeValue value{};
  EXPECT_EQ(zuqonlStringToDateTime("2024-02-29T10:11:12.013", &value), 1);
  EXPECT_EQ(value.dayOfWeek, 4);
  EXPECT_EQ(value.milliseconds, 13);
  EXPECT_EQ(zuqonlStringToDateTime(nullptr, &value), 0);
  EXPECT_EQ(zuqonlStringToDateTime("2024-02-30", &value), 0);
  EXPECT_EQ(value.day, 29);
}

}  // namespace
}  // namespace zuqonl
