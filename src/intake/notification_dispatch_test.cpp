#include "intake/notification_dispatch.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "intake/trade_store.h"
#include "platform/event.h"
#include "report/trade_report.h"
#include "run/run_settings.h"

namespace {

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    readyEvent = platform::createAutoResetEvent();
    std::lock_guard lock(tradeStoreMutex);
    tradeStore.clear();
  }
  void TearDown() override {
    platform::closeEvent(readyEvent);
    readyEvent = nullptr;
    std::lock_guard lock(tradeStoreMutex);
    tradeStore.clear();
  }

  static RowNotice row(int32_t rowID, const char* rev) {
    RowNotice notice{};
    notice.conn = 1;
    notice.rowID = rowID;
    notice.values[0] = rev;
    return notice;
  }

  static size_t storedCount() {
    std::lock_guard lock(tradeStoreMutex);
    return tradeStore.size();
  }
};

TEST_F(DispatchTest, CodesOutsideTheKnownRangeAndNullRecordsAreHarmless) {
  for (int32_t code : {0, 13, 18, 19, 29, -1, INT32_MIN, INT32_MAX}) onlineCallback(code, nullptr);
  for (int32_t code = 14; code <= 28; ++code) {
    if (code != ZUQONL_DS_CONNECTED && code != ZUQONL_SYNCHRONIZED) onlineCallback(code, nullptr);
  }
  EXPECT_EQ(platform::waitForEvent(readyEvent, 0), platform::kWaitTimeout);
  EXPECT_EQ(storedCount(), 0u);  // an AddRow without a record stores nothing
  ErrorNotice error{3, nullptr};
  onlineCallback(ZUQONL_ERROR, &error);
  FormatNotice format{3, 28, nullptr};
  onlineCallback(ZUQONL_FORMAT, &format);
  TextNotice text{nullptr};
  onlineCallback(ZUQONL_NET_INTEGRITY_OK, &text);
}

TEST(EscapeControlBytesTest, OnlyControlBytesAreEscaped) {
  EXPECT_EQ(escapeControlBytes(nullptr), "");
  EXPECT_EQ(escapeControlBytes("feed lagging: 100% %s caf\xE9 \xFF ~\\n"),
            "feed lagging: 100% %s caf\xE9 \xFF ~\\n");
  EXPECT_EQ(escapeControlBytes("a\nb\rc\td\x1B[31m\x7F\x01\x1F"),
            "a\\nb\\rc\\td\\x1B[31m\\x7F\\x01\\x1F");
}

TEST_F(DispatchTest, UpdateDeleteAndLateClearLeaveTheStoreAlone) {
  RowNotice added = row(7, "5");
  added.values[11] = "1.0";
  onlineCallback(ZUQONL_ADD_ROW, &added);
  RowNotice changed = row(7, "5");
  changed.values[11] = "2.0";
  onlineCallback(ZUQONL_UPDATE_ROW, &changed);
  onlineCallback(ZUQONL_DELETE_ROW, &changed);
  ConnNotice conn{1};
  onlineCallback(ZUQONL_SYNCHRONIZED, &conn);
  onlineCallback(ZUQONL_CLEAR, &conn);
  std::lock_guard lock(tradeStoreMutex);
  ASSERT_EQ(tradeStore.size(), 1u);
  EXPECT_EQ(tradeStore.at(5).price, "1.0");
}

TEST_F(DispatchTest, RowsAfterSynchronizedStillGoThroughTheIntake) {
  ConnNotice conn{1};
  onlineCallback(ZUQONL_SYNCHRONIZED, &conn);
  RowNotice late = row(8, "9");
  onlineCallback(ZUQONL_ADD_ROW, &late);
  EXPECT_EQ(storedCount(), 1u);
}

// Rows keep arriving on another thread while the report walks the store:
// the walk must see whole entries only (run under TSan).
TEST_F(DispatchTest, RowsArrivingDuringTheReportWalk) {
  char dir[] = "/tmp/zuq-walk-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string ini = std::string(dir) + "/walk.ini";
  const std::string report = std::string(dir) + "/walk.txt";
  FILE* file = std::fopen(ini.c_str(), "w");
  std::fprintf(file, "[options]\nreport_file=%s\n", report.c_str());
  std::fclose(file);
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (uint32_t n = 0; !done || n < 2000; ++n) {
      const std::string rev = std::to_string(n);
      RowNotice notice = row(static_cast<int32_t>(n), rev.c_str());
      onlineCallback(ZUQONL_ADD_ROW, &notice);
      if (n > 200000) break;
    }
  });
  for (int i = 0; i < 5; ++i) EXPECT_TRUE(writeTradeReport(ini.c_str()));
  done = true;
  feeder.join();
  std::remove(ini.c_str());
  std::remove(report.c_str());
  rmdir(dir);
}

}  // namespace
