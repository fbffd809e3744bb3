#include "run/run_driver.h"

#include <gtest/gtest.h>

#include "intake/ready_event.h"
#include "platform/event.h"
#include "run/run_settings.h"

namespace {

TEST(WaitMillisecondsTest, NeverNegativeNeverWrapped) {
  EXPECT_EQ(waitMilliseconds(10, 1000), 10000u);
  EXPECT_EQ(waitMilliseconds(10, 10000), 100000u);
  EXPECT_EQ(waitMilliseconds(0, 10000), 0u);
  EXPECT_EQ(waitMilliseconds(-1, 1000), 0u);
  EXPECT_EQ(waitMilliseconds(INT32_MIN, 10000), 0u);
  // 429497 s x 10000 wraps to 2704 ms in 32 bits.
  EXPECT_EQ(waitMilliseconds(429497, 10000), platform::kInfinite - 1);
  EXPECT_EQ(waitMilliseconds(INT32_MAX, 1000), platform::kInfinite - 1);
  EXPECT_EQ(waitMilliseconds(2147483, 1000), 2147483000u);
}

// Half the machine's memory, and within a 32-bit program's address space.
TEST(DefaultStoreLimitTest, HalfTheMachineWithinTheAddressSpace) {
  constexpr uint64_t kGiB = 1024ull * 1024 * 1024;
  EXPECT_EQ(defaultStoreLimitMiB(16 * kGiB, 8), 8192u);
  EXPECT_EQ(defaultStoreLimitMiB(16 * kGiB, 4), 3072u);
  EXPECT_EQ(defaultStoreLimitMiB(4 * kGiB, 4), 2048u);
  EXPECT_EQ(defaultStoreLimitMiB(0, 8), 4096u);
  EXPECT_EQ(defaultStoreLimitMiB(0, 4), 3072u);
  EXPECT_EQ(defaultStoreLimitMiB(64 * 1024 * 1024, 8), 64u);
  EXPECT_EQ(defaultStoreLimitMiB(UINT64_MAX, 8), UINT32_MAX);
}

// A DS Connected after the link came back must not end the wait for the
// table's synchronization; one that came before the first wait must not be
// lost.
TEST(ReadySignalTest, OnlyTheAwaitedNotificationReleasesTheWait) {
  ReadyEvent ready;
  ready.signal(ReadyReason::DataServer);
  EXPECT_EQ(ready.wait(0), platform::kWaitSignalled);
  ready.signal(ReadyReason::DataServer);  // pending when the driver moves on
  ready.awaitSynchronization();
  EXPECT_EQ(ready.wait(0), platform::kWaitTimeout);
  ready.signal(ReadyReason::DataServer);
  EXPECT_EQ(ready.wait(0), platform::kWaitTimeout);
  ready.signal(ReadyReason::Synchronized);
  EXPECT_EQ(ready.wait(0), platform::kWaitSignalled);
}

// The table counts as synchronized from its Synchronized signal until the
// driver awaits it again; a Clear in between leaves the stored trades alone.
TEST(ReadySignalTest, TheTableIsSynchronizedOnlyOnceItsSignalCame) {
  ReadyEvent ready;
  ready.signal(ReadyReason::Synchronized);  // before the driver awaits it
  ready.awaitSynchronization();
  EXPECT_FALSE(ready.tableSynchronized());
  ready.signal(ReadyReason::DataServer);
  EXPECT_FALSE(ready.tableSynchronized());
  ready.signal(ReadyReason::Synchronized);
  EXPECT_TRUE(ready.tableSynchronized());
  EXPECT_EQ(ready.wait(0), platform::kWaitSignalled);
  EXPECT_TRUE(ready.tableSynchronized());  // the wait does not undo it
}

// A stop request releases the wait of either kind at once, and every wait
// after it, even where the driver's switch to awaiting the table drops the
// signal that was pending: the driver must never sit out a timeout after it.
TEST(ReadySignalTest, AStopReleasesEveryWaitFromThenOn) {
  ReadyEvent ready;
  ready.interrupt();
  EXPECT_EQ(ready.wait(platform::kInfinite), platform::kWaitSignalled);
  ready.awaitSynchronization();
  EXPECT_EQ(ready.wait(platform::kInfinite), platform::kWaitSignalled);
  EXPECT_EQ(ready.wait(platform::kInfinite), platform::kWaitSignalled);
  EXPECT_FALSE(ready.tableSynchronized());
}

}  // namespace
