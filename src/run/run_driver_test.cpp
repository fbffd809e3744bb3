#include "run/run_driver.h"

#include <gtest/gtest.h>

#include "platform/event.h"
#include "run/ready_event.h"

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

}  // namespace
