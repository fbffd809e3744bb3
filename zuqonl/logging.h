// The library's log: every text written with zuqonlPrintf goes to standard
// output and, once the INI file names one, to a log file as well.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/append_file.h"
#include "platform/mutex.h"

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

  // Writes `text` as one piece to the output and the log file, never
  // interleaved with another call's text. Any thread. Until the log file's
  // fate is known (openFile or noFile), the text is also kept in memory, at
  // most kEarlyCapacity bytes. Every thread's writes but the notification
  // thread's reach the output at once; the notification thread's within
  // about kFlushInterval while it logs, and at the latest when it waits for
  // work.
  void write(std::string_view text);

  // Opens `path` for appending (closing a file opened before) and appends the
  // early texts first. The file is opened without blocking (a FIFO that no
  // program reads is refused) and each flush appends in one piece, so that
  // processes sharing the file interleave whole texts. False with a message
  // naming the file when it cannot be opened; the early texts are then given
  // up. A text goes to the file whole or not at all: once the file can take
  // no more (a full disk, a file-size limit), it is closed, standard output
  // says so in one line, and the texts after it go to the output only.
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
  void flushLocked() REQUIRES(mutex_);
  // Appends `text` to the open file, or gives the file up (see openFile).
  void appendToFileLocked(std::string_view text) REQUIRES(mutex_);
  // The notification thread's rule: reads the clock when the line count
  // says so and flushes when kFlushInterval passed.
  void checkClockLocked() REQUIRES(mutex_);

  platform::Mutex mutex_;
  Clock::time_point (*now_)();
  std::FILE* out_;
  platform::AppendFileHandle file_ GUARDED_BY(mutex_) = platform::kNoAppendFile;
  std::string filePath_ GUARDED_BY(mutex_);  // as openFile was given it
  std::string pending_ GUARDED_BY(mutex_);   // not yet written
  std::string early_ GUARDED_BY(mutex_);
  bool keepEarly_ GUARDED_BY(mutex_) = true;
  bool earlyOverflowed_ GUARDED_BY(mutex_) = false;
  Clock::time_point lastFlush_ GUARDED_BY(mutex_);
  Clock::time_point lastClockCheck_ GUARDED_BY(mutex_);
  int clockStride_ GUARDED_BY(mutex_) = 1;  // lines between checks
  int linesToClockCheck_ GUARDED_BY(mutex_) = 1;
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
