// Out of memory on the notification thread: nothing may cross into the
// library, and a table that was not kept whole is never reported.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <set>
#include <string>

#include "intake/intake_context.h"
#include "intake/notification_dispatch.h"
#include "platform/event.h"
#include "report/trade_report.h"
#include "run/option_keys.h"
#include "testsupport/sanitizers.h"
#include "testsupport/temp_dir.h"

namespace {

// When set, the next allocation through operator new on this thread of at
// least kLargeAllocation bytes fails, as when the memory runs out just then;
// the ones after it succeed (what was freed on the way out is there again).
// The threshold lies above what the library's log takes for the short lines
// of these tests, so that the failure meets the text that a test makes large
// and not the library's own buffers (whose failures the library forgets).
constexpr std::size_t kLargeAllocation = 4096;
thread_local bool failNextAllocation = false;
// When positive, counts the large allocations of every thread down: the one
// that takes it to zero fails.
std::atomic<int> largeAllocationsLeft{0};

[[maybe_unused]] bool countDownToFailure() {
  int left = largeAllocationsLeft.load();
  while (left > 0 && !largeAllocationsLeft.compare_exchange_weak(left, left - 1)) {
  }
  return left == 1;
}

}  // namespace

#ifndef ZUQ_ALLOCATOR_SANITIZED
// Replaced for this test program only, to make memory run out on cue. A
// sanitizer's allocator pairs its own operator new with its own delete, so
// under one the tests below are skipped instead.
#if defined(__GNUC__) && !defined(__clang__)
// GCC cannot see that the replaced operators pair malloc with free.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void* operator new(std::size_t size) {
  if (failNextAllocation && size >= kLargeAllocation) {
    failNextAllocation = false;
    throw std::bad_alloc();
  }
  if (size >= kLargeAllocation && countDownToFailure()) throw std::bad_alloc();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
#endif

namespace {

class OutOfMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef ZUQ_ALLOCATOR_SANITIZED
    GTEST_SKIP() << "the sanitizer's allocator cannot be made to fail on cue";
#endif
    attachIntake(&intake);
    intake.ready.awaitSynchronization();
  }
  void TearDown() override { attachIntake(nullptr); }

  // A row that every run keeps. A `large` one has a pair text too long for
  // its line to be put together without a larger allocation than any row
  // before it needed.
  RowNotice row(int32_t rowID, const char* rev, bool large = false) {
    RowNotice notice{};
    notice.conn = 1;
    notice.rowID = rowID;
    notice.values[0] = rev;
    notice.values[3] = large ? longPair.c_str() : "P1";  // init_pair
    return notice;
  }

  const std::string longPair = std::string(kLargeAllocation, 'p');
  IntakeContext intake;
  ConnNotice conn{1};
};

TEST_F(OutOfMemoryTest, ATradeThatDoesNotFitEndsTheIntakeAndReleasesTheDriver) {
  RowNotice first = row(1, "1");
  onlineCallback(ZUQONL_ADD_ROW, &first);
  ASSERT_EQ(intake.store.size(), 1u);
  RowNotice second = row(2, "2", true);
  failNextAllocation = true;
  onlineCallback(ZUQONL_ADD_ROW, &second);  // must not throw into the library
  ASSERT_FALSE(failNextAllocation);
  EXPECT_EQ(intake.end.load(), IntakeEnd::OutOfMemory);
  EXPECT_EQ(intake.store.size(), 0u);  // freed, so that the run can close
  // The driver is released at once, not after ten times the timeout.
  EXPECT_EQ(intake.ready.wait(0), platform::kWaitSignalled);

  // Memory is back, but the table is no longer whole: nothing more is kept.
  RowNotice third = row(3, "3");
  onlineCallback(ZUQONL_ADD_ROW, &third);
  onlineCallback(ZUQONL_SYNCHRONIZED, &conn);
  EXPECT_EQ(intake.store.size(), 0u);
  EXPECT_EQ(intake.end.load(), IntakeEnd::OutOfMemory);
}

TEST_F(OutOfMemoryTest, ARowAfterSynchronizationThatDoesNotFitLeavesTheReportAlone) {
  RowNotice first = row(1, "1");
  onlineCallback(ZUQONL_ADD_ROW, &first);
  onlineCallback(ZUQONL_SYNCHRONIZED, &conn);
  EXPECT_EQ(intake.ready.wait(0), platform::kWaitSignalled);
  RowNotice late = row(2, "2", true);
  failNextAllocation = true;
  onlineCallback(ZUQONL_ADD_ROW, &late);
  ASSERT_FALSE(failNextAllocation);
  EXPECT_EQ(intake.end.load(), IntakeEnd::Running);
  EXPECT_EQ(intake.store.size(), 1u);
  EXPECT_EQ(intake.ready.wait(0), platform::kWaitTimeout);
}

TEST_F(OutOfMemoryTest, AnyNotificationThatRunsOutOfMemoryStaysOnThisSideOfTheLibrary) {
  const std::string text(kLargeAllocation, 't');
  ErrorNotice error{1, text.c_str()};
  TextNotice netOk{text.c_str()};
  failNextAllocation = true;
  onlineCallback(ZUQONL_ERROR, &error);
  ASSERT_FALSE(failNextAllocation);
  EXPECT_EQ(intake.end.load(), IntakeEnd::OutOfMemory);
  failNextAllocation = true;
  onlineCallback(ZUQONL_NET_INTEGRITY_OK, &netOk);
  failNextAllocation = false;
}

// The memory runs out while the report is put together, at each place in
// turn where the writer (or its helper thread) takes a large piece: the
// report is not written, its temporary file is gone and the earlier report
// stands as it was; or, where the writer could do without that piece, the
// report is whole. Never an exception out of the writer.
TEST(ReportOutOfMemoryTest, AReportThatRunsOutOfMemoryLeavesTheEarlierOne) {
#ifdef ZUQ_ALLOCATOR_SANITIZED
  GTEST_SKIP() << "the sanitizer's allocator cannot be made to fail on cue";
#endif
  const testsupport::TempDir dir;
  const std::string ini = dir / "report.ini";
  dir.write("report.ini", "[options]\r\nreport_file=" + (dir / "r.txt") + "\r\n");
  constexpr char kEarlier[] = "the earlier report\r\n";
  // Enough lines for several batches, some of them formatted on the helper.
  TradeStore store;
  TradeRecord record;
  record.init_memo = "memo";
  for (uint32_t key = 0; key < 3 * 4096 + 10; ++key) store.add(key, record, FirmSide::Initiator);
  dir.write("r.txt", kEarlier);
  ASSERT_TRUE(writeTradeReport([&] { return readReportOptions(ini.c_str()); }, ini.c_str(), store));
  const std::string whole = dir.read("r.txt");

  int failures = 0;
  for (int failing = 1;; ++failing) {
    SCOPED_TRACE(failing);
    dir.write("r.txt", kEarlier);
    largeAllocationsLeft = failing;
    const bool written =
        writeTradeReport([&] { return readReportOptions(ini.c_str()); }, ini.c_str(), store)
            .written;
    const bool failed = largeAllocationsLeft == 0;
    largeAllocationsLeft = 0;
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"r.txt", "report.ini"}));
    EXPECT_EQ(dir.read("r.txt"), written ? whole : kEarlier);
    if (!written) ++failures;
    if (!failed) {
      EXPECT_TRUE(written);
      break;
    }
    ASSERT_LT(failing, 1000);
  }
  EXPECT_GT(failures, 0);
}

}  // namespace
