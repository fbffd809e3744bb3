#include "platform/event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace platform {
namespace {

// Owns one event for the length of a test.
class EventTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(event_, nullptr); }
  void TearDown() override { closeEvent(event_); }

  EventHandle event_ = createAutoResetEvent();
};

// Gives a thread that is about to wait a fair chance to block first. The
// tests stay correct if it does not; they only lose some of their reach.
void letWaiterBlock() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

TEST_F(EventTest, SignalIsKeptUntilOneWaitConsumesIt) {
  EXPECT_EQ(waitForEvent(event_, 0), kWaitTimeout);
  EXPECT_TRUE(setEvent(event_));
  EXPECT_EQ(waitForEvent(event_, 0), kWaitSignalled);
  EXPECT_EQ(waitForEvent(event_, 0), kWaitTimeout);

  EXPECT_TRUE(setEvent(event_));
  EXPECT_EQ(waitForEvent(event_, kInfinite), kWaitSignalled);
  EXPECT_EQ(waitForEvent(event_, 0), kWaitTimeout);
}

TEST_F(EventTest, SecondSetHasNoEffect) {
  EXPECT_TRUE(setEvent(event_));
  EXPECT_TRUE(setEvent(event_));
  EXPECT_EQ(waitForEvent(event_, 0), kWaitSignalled);
  EXPECT_EQ(waitForEvent(event_, 0), kWaitTimeout);
}

TEST_F(EventTest, FiniteWaitWithoutSignalTimesOut) {
  EXPECT_EQ(waitForEvent(event_, 10), kWaitTimeout);
}

TEST(EventNullHandleTest, NullHandleFails) {
  EXPECT_FALSE(setEvent(nullptr));
  EXPECT_EQ(waitForEvent(nullptr, 0), kWaitFailed);
  EXPECT_EQ(waitForEvent(nullptr, kInfinite), kWaitFailed);
  closeEvent(nullptr);
}

TEST_F(EventTest, SetFromAnotherThreadReleasesInfiniteWaiter) {
  uint32_t result = kWaitFailed;
  std::thread waiter([&] { result = waitForEvent(event_, kInfinite); });
  letWaiterBlock();
  EXPECT_TRUE(setEvent(event_));
  waiter.join();
  EXPECT_EQ(result, kWaitSignalled);
  EXPECT_EQ(waitForEvent(event_, 0), kWaitTimeout);
}

// The longest finite wait must block like any other: a deadline that wrapped
// would make it return kWaitTimeout at once.
TEST_F(EventTest, LongestFiniteWaitIsReleasedBySet) {
  uint32_t result = kWaitFailed;
  std::thread waiter([&] { result = waitForEvent(event_, 0xFFFFFFFE); });
  letWaiterBlock();
  EXPECT_TRUE(setEvent(event_));
  waiter.join();
  EXPECT_EQ(result, kWaitSignalled);
}

TEST_F(EventTest, OneSetReleasesOneOfTwoWaiters) {
  std::atomic<int> released{0};
  auto wait = [&] {
    if (waitForEvent(event_, kInfinite) == kWaitSignalled) ++released;
  };
  std::thread first(wait);
  std::thread second(wait);
  letWaiterBlock();
  EXPECT_TRUE(setEvent(event_));
  while (released.load() == 0) std::this_thread::yield();
  letWaiterBlock();
  EXPECT_EQ(released.load(), 1);
  EXPECT_TRUE(setEvent(event_));
  first.join();
  second.join();
  EXPECT_EQ(released.load(), 2);
}

// A handshake of many rounds: every signal must arrive, none may be lost or
// doubled, whatever the interleaving.
TEST_F(EventTest, PingPongLosesNoSignal) {
  EventHandle reply = createAutoResetEvent();
  ASSERT_NE(reply, nullptr);
  constexpr int kRounds = 2000;
  int answered = 0;
  std::thread partner([&] {
    for (int i = 0; i < kRounds; ++i) {
      if (waitForEvent(event_, kInfinite) != kWaitSignalled) return;
      ++answered;
      setEvent(reply);
    }
  });
  for (int i = 0; i < kRounds; ++i) {
    setEvent(event_);
    ASSERT_EQ(waitForEvent(reply, kInfinite), kWaitSignalled);
  }
  partner.join();
  EXPECT_EQ(answered, kRounds);
  EXPECT_EQ(waitForEvent(event_, 0), kWaitTimeout);
  EXPECT_EQ(waitForEvent(reply, 0), kWaitTimeout);
  closeEvent(reply);
}

}  // namespace
}  // namespace platform
