// The library's log: every text written with zuqonlPrintf goes to standard
// output and, once the INI file names one, to a log file as well.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/append_file.h"

namespace zuqonl {

class Log {
 public:
  using Clock = std::chrono::steady_clock;

  // `out` (standard output for the library) must outlive the log. `now`
  // reads the clock (a test's own clock, or the steady clock).
  explicit Log(std::FILE* out, Clock::time_point (*now)() = &Clock::now);
  ~Log();
  Log(const Log&) = delete;
  Log& operator=(const Log&) = delete;

  // Writes `text` as one piece to the output and the log file, never interleaved
  // with another call's text. Any thread. Until the log file's fate is known
  // (openFile or noFile), the text is also kept in memory, at most
  // kEarlyCapacity bytes. Every thread's writes but the notification thread's
  // are flushed at once. The notification thread's are flushed once
  // kPendingCapacity bytes are pending, when it waits for work (it calls flush()
  // then), and when a clock check finds kFlushInterval passed since the last
  // flush. It may log a line per row, and on some machines reading the clock
  // costs about as much as the rest of a line, so the clock is checked only
  // every few lines while lines come fast: after a check that finds the lines
  // since the check before took less than kFastLines, the next check comes after
  // twice as many lines (at most kMaxClockStride); after a slower one, at the
  // next line. A line is thus flushed at most about kFlushInterval + 2 *
  // kFastLines late while the pace holds, and, when the pace drops at once from
  // fast to slow callbacks, at most kMaxClockStride lines late.
  void write(std::string_view text);

  // Opens `path` for appending (closing a file opened before) and appends the
  // early texts first. The file is opened without blocking (a FIFO that no
  // program reads is refused) and each flush appends in one piece, so that
  // processes sharing the file interleave whole texts. False with a message
  // naming the file when it cannot be opened; the early texts are then given
  // up.
  bool openFile(const std::string& path, std::string* err);
  // No log file (any longer): a file opened before is closed and the early
  // texts are given up.
  void noFile();

  // Pushes what was written to the output and the file.
  void flush();

  static constexpr size_t kEarlyCapacity = 64 * 1024;
  // Texts gathered before they are handed to the output and the file in one
  // piece each.
  static constexpr size_t kPendingCapacity = 64 * 1024;
  static constexpr std::chrono::milliseconds kFlushInterval{100};
  static constexpr std::chrono::milliseconds kFastLines{10};
  static constexpr int kMaxClockStride = 64;

 private:
  void flushLocked();
  // The notification thread's rule: reads the clock when the line count
  // says so and flushes when kFlushInterval passed.
  void checkClockLocked();

  std::mutex mutex_;
  Clock::time_point (*now_)();
  std::FILE* out_;
  platform::AppendFileHandle file_ = platform::kNoAppendFile;  // guarded by mutex_
  std::string pending_;                                        // guarded by mutex_; not yet written
  std::string early_;                                          // guarded by mutex_
  bool keepEarly_ = true;                                      // guarded by mutex_
  bool earlyOverflowed_ = false;                               // guarded by mutex_
  Clock::time_point lastFlush_;                                // guarded by mutex_
  Clock::time_point lastClockCheck_;                           // guarded by mutex_
  int clockStride_ = 1;        // guarded by mutex_; lines between checks
  int linesToClockCheck_ = 1;  // guarded by mutex_
};

// The process's log, writing to standard output. Created on first use and
// never destroyed, so that threads still logging at exit find it; an atexit
// handler flushes it.
Log& processLog();

// Marks the calling thread as the notification thread, whose writes are
// flushed lazily because a program may log a line per delivered row.
void markNotificationThread();
bool isNotificationThread();

}  // namespace zuqonl
