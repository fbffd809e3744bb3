#include "zuqds/log.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>
#include <utility>
#include <vector>

#include "platform/mutex.h"
#include "platform/thread_annotations.h"

namespace zuqds {

namespace {

void writeLine(std::string_view line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
}

// The lines on their way to stdout. Made once and never destroyed: a writer
// left blocked on stdout at the end must not find it gone.
class LogQueue {
 public:
  void start() EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    if (writer_.joinable()) return;
    writer_ = std::thread([this] { write(); });
  }

  bool finish(std::chrono::milliseconds limit) EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    if (!writer_.joinable()) return true;
    stopping_ = true;
    wake_.notifyOne();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!ended_) {
      if (!done_.waitUntil(mutex_, deadline) && !ended_) {
        writer_.detach();
        return false;
      }
    }
    lock.unlock();
    writer_.join();
    return true;
  }

  // False when no writer runs: the caller writes the line itself.
  bool put(std::string_view line) EXCLUDES(mutex_) {
    platform::MutexLock lock(mutex_);
    if (!writer_.joinable() || stopping_) return false;
    if (queuedBytes_ + line.size() > kLogQueueBytes) {
      ++dropped_;
      return true;
    }
    queuedBytes_ += line.size();
    queued_.emplace_back(line);
    wake_.notifyOne();
    return true;
  }

 private:
  void write() EXCLUDES(mutex_) {
    std::vector<std::string> batch;
    for (;;) {
      uint64_t dropped = 0;
      {
        platform::MutexLock lock(mutex_);
        while (!stopping_ && queued_.empty() && dropped_ == 0) wake_.wait(mutex_);
        if (queued_.empty() && dropped_ == 0) {
          ended_ = true;
          done_.notifyAll();
          return;
        }
        batch.swap(queued_);
        queuedBytes_ = 0;
        dropped = std::exchange(dropped_, 0);
      }
      // The gap comes before the lines queued after it.
      if (dropped != 0) {
        writeLine(std::to_string(dropped) +
                  " log lines dropped: standard output did not take them in time");
      }
      for (const std::string& line : batch) writeLine(line);
      std::fflush(stdout);
      batch.clear();
    }
  }

  platform::Mutex mutex_;
  platform::CondVar wake_;  // lines queued, or the end asked for
  platform::CondVar done_;  // the writer has ended
  std::vector<std::string> queued_ GUARDED_BY(mutex_);
  size_t queuedBytes_ GUARDED_BY(mutex_) = 0;
  uint64_t dropped_ GUARDED_BY(mutex_) = 0;
  bool stopping_ GUARDED_BY(mutex_) = false;
  bool ended_ GUARDED_BY(mutex_) = false;
  // Started under the lock; joined, or let go, by finish() alone, the
  // join outside the lock that the writer needs to end.
  std::thread writer_;
};

LogQueue& logQueue() {
  static LogQueue* queue = new LogQueue;
  return *queue;
}

}  // namespace

void startLogging() { logQueue().start(); }

bool finishLogging(std::chrono::milliseconds limit) { return logQueue().finish(limit); }

void logLine(std::string_view line) {
  if (logQueue().put(line)) return;
  writeLine(line);
  std::fflush(stdout);
}

}  // namespace zuqds
