#include "logging.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "testsupport/temp_dir.h"

namespace zuqonl {
namespace {

// A clock that moves only when told, and counts its reads.
Log::Clock::time_point g_now{};
int g_clockReads = 0;

Log::Clock::time_point fakeNow() {
  ++g_clockReads;
  return g_now;
}

// The number of bytes that reached `file`.
long writtenBytes(std::FILE* file) {
  std::fseek(file, 0, SEEK_END);
  return std::ftell(file);
}

// Runs `body` on a thread marked as the notification thread, so that the
// mark stays off the test's own thread.
template <typename Body>
void onNotificationThread(Body body) {
  std::thread thread([&] {
    markNotificationThread();
    body();
  });
  thread.join();
}

TEST(LogTest, OtherThreadsLinesAreFlushedAtOnce) {
  std::FILE* out = testsupport::openScratchFile();
  ASSERT_NE(out, nullptr);
  {
    Log log(out, fakeNow);
    log.noFile();
    log.write("one\n");
    EXPECT_EQ(writtenBytes(out), 4);
  }
  std::fclose(out);
}

// While lines come fast the clock is read ever more rarely, yet a line is
// flushed within kMaxClockStride lines once the flush interval has passed;
// once lines come slowly the clock is read for every line again.
TEST(LogTest, NotificationThreadReadsTheClockOnlyEveryFewLines) {
  std::FILE* out = testsupport::openScratchFile();
  ASSERT_NE(out, nullptr);
  onNotificationThread([&] {
    Log log(out, fakeNow);
    log.noFile();
    g_clockReads = 0;
    const std::string line = "[ZUQTradeReport] AddRow conn=1, rowID=1\n";
    for (int n = 0; n < 1000; ++n) log.write(line);
    EXPECT_EQ(writtenBytes(out), 0);
    EXPECT_LE(g_clockReads, 7 + 1000 / Log::kMaxClockStride);

    g_now += Log::kFlushInterval;
    int lines = 0;
    while (writtenBytes(out) == 0 && lines <= Log::kMaxClockStride) {
      log.write(line);
      ++lines;
    }
    EXPECT_GE(lines, 1);
    EXPECT_LE(lines, Log::kMaxClockStride);
    EXPECT_EQ(writtenBytes(out), static_cast<long>((1000 + lines) * line.size()));

    // A slow pace brings the checks back to every line: the line that comes
    // once the interval has passed is flushed at once.
    for (int n = 0; n < 3 * Log::kMaxClockStride; ++n) {
      g_now += Log::kFastLines;
      log.write(line);
    }
    log.flush();
    const long flushed = writtenBytes(out);
    g_now += Log::kFlushInterval - Log::kFastLines;
    log.write(line);
    EXPECT_EQ(writtenBytes(out), flushed);
    g_now += Log::kFastLines;
    log.write(line);
    EXPECT_EQ(writtenBytes(out), flushed + static_cast<long>(2 * line.size()));

    // Pending text past kPendingCapacity goes out without the clock.
    const int readsBefore = g_clockReads;
    const std::string big(Log::kPendingCapacity, 'x');
    log.write(big);
    EXPECT_EQ(writtenBytes(out), flushed + static_cast<long>(2 * line.size() + big.size()));
    EXPECT_LE(g_clockReads, readsBefore + 1);  // the flush notes its time
  });
  std::fclose(out);
}

// A log file that takes nothing (a full device): standard output has every
// line and, once, the line that says the file stopped; the file is not tried
// again for the texts after it.
TEST(LogTest, AFileThatCanTakeNoMoreIsToldOnceAndLeftAlone) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no device that is always full";
#else
  std::FILE* out = testsupport::openScratchFile();
  ASSERT_NE(out, nullptr);
  {
    Log log(out, fakeNow);
    std::string err;
    log.write("early\n");
    ASSERT_TRUE(log.openFile("/dev/full", &err)) << err;
    log.write("one\n");
    log.write("two\n");
  }
  std::rewind(out);
  char buffer[512] = {};
  const std::string written(buffer, std::fread(buffer, 1, sizeof buffer - 1, out));
  EXPECT_EQ(written,
            "early\n[zuqonl] log file '/dev/full' can no longer be written: No space left on "
            "device; lines go to standard output only\none\ntwo\n");
  std::fclose(out);
#endif
}

}  // namespace
}  // namespace zuqonl
