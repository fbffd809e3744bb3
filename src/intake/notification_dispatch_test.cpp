#include "intake/notification_dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "intake/intake_context.h"
#include "platform/event.h"

namespace {

class DispatchTest : public ::testing::Test {
 protected:
  void SetUp() override { attachIntake(&intake); }
  void TearDown() override { attachIntake(nullptr); }

  static RowNotice row(int32_t rowID, const char* rev) {
    RowNotice notice{};
    notice.conn = 1;
    notice.rowID = rowID;
    notice.values[0] = rev;
    return notice;
  }

  size_t storedCount() { return intake.store.size(); }

  IntakeContext intake;
};

TEST_F(DispatchTest, CodesOutsideTheKnownRangeAndNullRecordsAreHarmless) {
  for (int32_t code : {0, 13, 18, 19, 29, -1, INT32_MIN, INT32_MAX}) onlineCallback(code, nullptr);
  for (int32_t code = 14; code <= 28; ++code) {
    if (code != ZUQONL_DS_CONNECTED && code != ZUQONL_SYNCHRONIZED) onlineCallback(code, nullptr);
  }
  EXPECT_EQ(intake.ready.wait(0), platform::kWaitTimeout);
  EXPECT_EQ(storedCount(), 0u);  // an AddRow without a record stores nothing
  ErrorNotice error{3, nullptr};
  onlineCallback(ZUQONL_ERROR, &error);
  FormatNotice format{3, 28, nullptr};
  onlineCallback(ZUQONL_FORMAT, &format);
  TextNotice text{nullptr};
  onlineCallback(ZUQONL_NET_INTEGRITY_OK, &text);
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
  ASSERT_EQ(storedCount(), 1u);
  intake.store.walk([](uint32_t key, const KeptTrade& line) {
    EXPECT_EQ(key, 5u);
    EXPECT_EQ(line.texts[kPriceText], "1.0");
  });
}

// A Clear while the table is still being delivered is the server starting
// it anew: what the earlier delivery brought must not reach the report.
TEST_F(DispatchTest, AClearBeforeSynchronizedDiscardsTheStoredTrades) {
  intake.ready.awaitSynchronization();
  RowNotice stale = row(7, "5");
  stale.values[11] = "1.0";
  onlineCallback(ZUQONL_ADD_ROW, &stale);
  ConnNotice conn{1};
  onlineCallback(ZUQONL_CLEAR, &conn);
  EXPECT_EQ(storedCount(), 0u);
  RowNotice fresh = row(8, "5");
  fresh.values[11] = "2.0";
  onlineCallback(ZUQONL_ADD_ROW, &fresh);
  onlineCallback(ZUQONL_SYNCHRONIZED, &conn);
  onlineCallback(ZUQONL_CLEAR, &conn);
  ASSERT_EQ(storedCount(), 1u);
  intake.store.walk([](uint32_t, const KeptTrade& line) {
    EXPECT_EQ(line.rowID, 8);
    EXPECT_EQ(line.texts[kPriceText], "2.0");
  });
}

TEST_F(DispatchTest, SignalsAndRowsReachTheAttachedRunOnly) {
  onlineCallback(ZUQONL_DS_CONNECTED, nullptr);
  EXPECT_EQ(intake.ready.wait(0), platform::kWaitSignalled);
  IntakeContext other;
  attachIntake(&other);
  RowNotice added = row(3, "4");
  onlineCallback(ZUQONL_ADD_ROW, &added);
  onlineCallback(ZUQONL_DS_CONNECTED, nullptr);
  attachIntake(nullptr);  // no run: rows and signals are only logged
  onlineCallback(ZUQONL_ADD_ROW, &added);
  onlineCallback(ZUQONL_DS_CONNECTED, nullptr);
  EXPECT_EQ(other.store.size(), 1u);
  EXPECT_EQ(other.ready.wait(0), platform::kWaitSignalled);
  EXPECT_EQ(storedCount(), 0u);
  EXPECT_EQ(intake.ready.wait(0), platform::kWaitTimeout);
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
  std::atomic<bool> done{false};
  std::thread feeder([&] {
    for (uint32_t n = 0; !done || n < 2000; ++n) {
      const std::string rev = std::to_string(n);
      RowNotice notice = row(static_cast<int32_t>(n), rev.c_str());
      onlineCallback(ZUQONL_ADD_ROW, &notice);
      if (n > 200000) break;
    }
  });
  for (int i = 0; i < 5; ++i) {
    size_t visited = 0;
    size_t whole = 0;
    intake.store.walk([&](uint32_t key, const KeptTrade& line) {
      ++visited;
      // The rows carry nothing but their "rev": no firm's pairs, joined.
      whole += line.rowID == static_cast<int32_t>(key) && line.texts[kCustomerText] == "-";
    });
    EXPECT_EQ(whole, visited);
  }
  done = true;
  feeder.join();
}

}  // namespace
