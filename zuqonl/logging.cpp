#include "logging.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/error_text.h"

namespace zuqonl {
namespace {

thread_local bool t_notificationThread = false;

void flushProcessLog() { processLog().flush(); }

// A log that cannot be written (its reader gone, its disk full) loses the
// text and nothing else: the failure is forgotten, so the next text is tried
// afresh and the run goes on.
void writeTolerantly(std::string_view text, std::FILE* stream) {
  if (std::fwrite(text.data(), 1, text.size(), stream) != text.size()) std::clearerr(stream);
}

void flushTolerantly(std::FILE* stream) {
  if (std::fflush(stream) != 0) std::clearerr(stream);
}

}  // namespace

Log::Log(std::FILE* out, Clock::time_point (*now)())
    : now_(now), out_(out), lastFlush_(now()), lastClockCheck_(lastFlush_) {}

Log::~Log() {
  platform::MutexLock lock(mutex_);
  flushLocked();
  platform::closeAppendFile(file_);
}

// The notification thread's texts are flushed once kPendingCapacity bytes
// are pending, when it waits for work (it calls flush() then), and when a
// clock check finds kFlushInterval passed since the last flush. It may log a
// line per row, and on some machines reading the clock costs about as much as
// the rest of a line, so the clock is checked only every few lines while lines
// come fast: after a check that finds the lines since the check before took
// less than kFastLines, the next check comes after twice as many lines (at
// most kMaxClockStride); after a slower one, at the next line. A line is thus
// flushed at most about kFlushInterval + 2 * kFastLines late while the pace
// holds, and, when the pace drops at once from fast to slow callbacks, at most
// kMaxClockStride lines late.
void Log::write(std::string_view text) {
  platform::MutexLock lock(mutex_);
  pending_.append(text);
  if (keepEarly_) {
    if (early_.size() + text.size() <= kEarlyCapacity) {
      early_.append(text);
    } else {
      earlyOverflowed_ = true;
    }
  }
  if (!t_notificationThread || pending_.size() >= kPendingCapacity) {
    flushLocked();
  } else {
    checkClockLocked();
  }
}

void Log::checkClockLocked() {
  if (--linesToClockCheck_ > 0) return;
  const Clock::time_point now = now_();
  clockStride_ =
      now - lastClockCheck_ < kFastLines ? std::min(2 * clockStride_, kMaxClockStride) : 1;
  linesToClockCheck_ = clockStride_;
  lastClockCheck_ = now;
  if (now - lastFlush_ >= kFlushInterval) flushLocked();
}

bool Log::openFile(const std::string& path, std::string* err) {
  platform::MutexLock lock(mutex_);
  flushLocked();
  platform::closeAppendFile(file_);
  int error = 0;
  file_ = platform::openAppendFile(path.c_str(), &error);
  filePath_ = path;
  const bool opened = file_ != platform::kNoAppendFile;
  if (!opened) {
    *err = "cannot open log file '" + path + "': " + platform::errnoText(error);
  } else if (keepEarly_) {
    if (earlyOverflowed_) early_ += "[zuqonl] earlier log lines were not kept\n";
    appendToFileLocked(early_);
  }
  keepEarly_ = false;
  early_ = std::string();
  return opened;
}

void Log::noFile() {
  platform::MutexLock lock(mutex_);
  flushLocked();
  platform::closeAppendFile(file_);
  file_ = platform::kNoAppendFile;
  keepEarly_ = false;
  early_ = std::string();
}

void Log::flush() {
  platform::MutexLock lock(mutex_);
  flushLocked();
}

void Log::flushLocked() {
  if (!pending_.empty()) {
    writeTolerantly(pending_, out_);
    if (file_ != platform::kNoAppendFile) appendToFileLocked(pending_);
    pending_.clear();
  }
  flushTolerantly(out_);
  lastFlush_ = now_();
}

// A file that can't take a text loses it, and the texts after it: a file
// that has run out of room stays so for the rest of the run (a later text,
// shorter, could fit where this one did not, and the file would then hold
// a gap that nothing shows). The output, which has had the texts, is told
// once.
void Log::appendToFileLocked(std::string_view text) {
  int error = 0;
  if (platform::appendWhole(file_, text, &error)) return;
  platform::closeAppendFile(file_);
  file_ = platform::kNoAppendFile;
  writeTolerantly("[zuqonl] log file '" + filePath_ + "' can no longer be written: " +
                      platform::errnoText(error) + "; lines go to standard output only\n",
                  out_);
}

Log& processLog() {
  static Log* log = [] {
    // Unbuffered: each flush then reaches standard output in one write, so
    // that programs sharing it interleave whole texts, never cut ones.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    auto* created = new Log(stdout);
    std::atexit(flushProcessLog);
    return created;
  }();
  return *log;
}

void markNotificationThread() { t_notificationThread = true; }

bool isNotificationThread() { return t_notificationThread; }

}  // namespace zuqonl
