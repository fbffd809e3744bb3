// A table stream read ahead on a thread of its own: while the notification
// thread hands one batch of rows to the program, the next batch is parsed, so
// that reading the table file and the program's work on its rows overlap.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dataserver/table_stream.h"

namespace zuqonl {

// Yields exactly the events of the TableStream it wraps, in their order.
// open() and next() are for one thread (the notification thread); the
// reading thread lives from a successful open() to destruction.
class ReadAheadStream {
 public:
  ReadAheadStream() = default;
  // Stops the reading thread and waits for it.
  ~ReadAheadStream();
  ReadAheadStream(const ReadAheadStream&) = delete;
  ReadAheadStream& operator=(const ReadAheadStream&) = delete;

  // As TableStream::open; on success the reading thread starts. Once only.
  bool open(const std::string& dataDir, const dataserver::Subscription& sub, std::string* err);
  int columnCount() const { return columnCount_; }

  // The next event, as TableStream::next(TableEvent*) would give it; waits
  // while the reading thread has none ready. End repeats once reached.
  void next(dataserver::TableEvent* out);

  // Events parsed ahead at most per batch; a batch is also handed over at
  // every event that is not a row, so nothing but rows waits to be batched.
  static constexpr size_t kBatchEvents = 256;

 private:
  void read();

  dataserver::TableStream stream_;  // the reading thread's alone once it runs
  int columnCount_ = 0;

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<dataserver::TableEvent> ready_;  // guarded by mutex_: a batch for next()
  size_t readyCount_ = 0;                      // guarded by mutex_
  bool haveReady_ = false;                     // guarded by mutex_
  bool stop_ = false;                          // guarded by mutex_

  // next()'s own: the batch being handed out.
  std::vector<dataserver::TableEvent> current_;
  size_t currentCount_ = 0;
  size_t position_ = 0;
  bool ended_ = false;

  std::thread thread_;
};

}  // namespace zuqonl
