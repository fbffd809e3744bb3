#include "zuqds/log.h"

#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

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
  void start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (writer_.joinable()) return;
    writer_ = std::thread([this] { write(); });
  }

  bool finish(std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!writer_.joinable()) return true;
    stopping_ = true;
    wake_.notify_one();
    if (!done_.wait_for(lock, limit, [this] { return ended_; })) {
      writer_.detach();
      return false;
    }
    lock.unlock();
    writer_.join();
    return true;
  }

  // False when no writer runs: the caller writes the line itself.
  bool put(std::string_view line) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!writer_.joinable() || stopping_) return false;
    if (queuedBytes_ + line.size() > kLogQueueBytes) {
      ++dropped_;
      return true;
    }
    queuedBytes_ += line.size();
    queued_.emplace_back(line);
    wake_.notify_one();
    return true;
  }

 private:
  void write() {
    std::vector<std::string> batch;
    for (;;) {
      uint64_t dropped = 0;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [this] { return stopping_ || !queued_.empty() || dropped_ != 0; });
        if (queued_.empty() && dropped_ == 0) {
          ended_ = true;
          done_.notify_all();
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

  std::mutex mutex_;
  std::condition_variable wake_;  // lines queued, or the end asked for
  std::condition_variable done_;  // the writer has ended
  std::vector<std::string> queued_;
  size_t queuedBytes_ = 0;
  uint64_t dropped_ = 0;
  bool stopping_ = false;
  bool ended_ = false;
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
