// The library's notification thread: delivers the notifications of a backend
// to the program's callback, one at a time and in order, from zuqonlOpen
// until zuqonlClose. The backend runs on a thread of its own, the serving
// thread, and hands its notifications over in batches, so that reading and
// parsing a table runs ahead of the callback.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "backend.h"
#include "zuqonl.h"

namespace zuqonl {

class NotificationThread final : private BackendHost {
 public:
  // Notifications per batch, and batches in all: the one the serving thread
  // fills and those waiting for or in delivery. The serving thread waits for
  // the callback when all are full.
  static constexpr size_t kBatchNotices = 128;
  static constexpr size_t kBatches = 4;

  // Starts the thread, which runs `backend` (null: no data source, the thread
  // idles until stopped) and hands each notification to `callback` (null:
  // notifications are dropped).
  NotificationThread(ZuqonlCallback callback, std::unique_ptr<Backend> backend);
  // Stops and joins the thread (see stop()).
  ~NotificationThread();
  NotificationThread(const NotificationThread&) = delete;
  NotificationThread& operator=(const NotificationThread&) = delete;

  // A new positive handle (1, 2, ...) for `subscription`, served on the
  // thread. Any thread.
  int32_t openConnection(dataserver::Subscription subscription);
  // Ends delivery for `conn`: when this returns, no further notification for
  // it reaches the callback. Waits for a callback in progress for `conn` to
  // return, except on the notification thread itself. False for a handle
  // that is not open. Any thread.
  bool closeConnection(int32_t conn);

  // Asks the thread to stop and returns at once: no callback starts after
  // this. Any thread, including the notification thread.
  void requestStop();
  // requestStop(), then waits for the thread to end (a callback in progress
  // returns first). Not on the notification thread.
  void stop();
  bool onThisThread() const;

 private:
  // One notification, or one log line, in the order the backend made them.
  struct Item {
    int32_t conn = 0;
    int32_t logLine = -1;  // index into Batch::logLines, or -1: a notification
    Notice notice;
  };
  struct Batch {
    std::vector<Item> items;
    std::vector<std::string> logLines;
    void clear() {
      items.clear();
      logLines.clear();
    }
  };

  void run();
  void serve();
  void interruptBackend();
  // The notification thread's side: delivers `batch`, leaving out the
  // notifications once the library is stopping.
  void deliverBatch(Batch& batch);
  bool isOpen(int32_t conn);
  void endCallback();
  // The serving thread's side: hands the batch being filled over (if it
  // holds anything) and takes an empty one, waiting while none is free
  // unless the library is stopping. `idle`: the serving thread is about to
  // wait, so the log is flushed once everything is delivered.
  void handOver(bool idle);

  // BackendHost, on the serving thread:
  void takeRequests(std::vector<ConnectionRequest>* opened, std::vector<int32_t>* closed) override;
  void deliver(int32_t conn, Notice notice) override;
  void log(std::string text) override;
  void beforeBlocking() override;
  void awaitDelivery() override;
  void waitForWork(std::chrono::steady_clock::time_point deadline) override;
  bool stopping() const override;
  void wake() override;

  const ZuqonlCallback callback_;
  // Run on the serving thread only; any thread may call its interrupt().
  const std::unique_ptr<Backend> backend_;
  // The row blocks of the notices in flight, recycled in turn (see Notice).
  RowBlockRing rowBlocks_;

  mutable std::mutex mutex_;
  std::condition_variable workArrived_;       // a request, wake() or stop
  std::condition_variable callbackReturned_;  // for closeConnection's wait
  bool stopRequested_ = false;                // guarded by mutex_
  bool woken_ = false;                        // guarded by mutex_
  int32_t nextConn_ = 1;                      // guarded by mutex_
  std::set<int32_t> openConns_;               // guarded by mutex_
  std::vector<ConnectionRequest> opened_;     // guarded by mutex_
  std::vector<int32_t> closed_;               // guarded by mutex_
  // Mirrors of stopRequested_ and "requests waiting", read without the lock
  // on every step of the thread.
  std::atomic<bool> stopping_{false};
  std::atomic<bool> requestsWaiting_{false};
  // The handle whose callback is in progress (kNoCallback: none), the count
  // of closeConnection calls so far and of those waiting for a callback to
  // return. A callback starts only after its handle is published here and the
  // count is seen unchanged since the handle was last found open; a closer
  // counts its close before it looks here: one of them sees the other.
  static constexpr int32_t kNoCallback = -1;
  std::atomic<int32_t> callbackConn_{kNoCallback};
  std::atomic<uint64_t> closings_{0};
  std::atomic<int> closersWaiting_{0};
  int32_t knownOpenConn_ = 0;    // notification thread only: found open when
  uint64_t knownAtClosing_ = 0;  // closings_ was this

  // The hand-over between the threads.
  std::mutex batchMutex_;
  std::condition_variable batchReady_;  // to the notification thread
  std::condition_variable batchFreed_;  // to the serving thread
  std::deque<Batch> ready_;             // guarded by batchMutex_
  std::vector<Batch> free_;             // guarded by batchMutex_
  bool flushWanted_ = false;            // guarded by batchMutex_; see handOver
  bool delivering_ = false;             // guarded by batchMutex_: a batch is out
  // A callback failed: as with a failure of the backend, nothing more is
  // served.
  std::atomic<bool> abandoned_{false};
  Batch filling_;  // serving thread only

  std::thread server_;  // joined by the notification thread
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace zuqonl
