// The library's notification thread: runs a backend and delivers its
// notifications to the program's callback, one at a time, from zuqonlOpen
// until zuqonlClose.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "backend.h"
#include "platform/mutex.h"
#include "zuqonl.h"

namespace zuqonl {

class NotificationThread final : private BackendHost {
 public:
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
  int32_t openConnection(dataserver::Subscription subscription) EXCLUDES(mutex_);
  // Ends delivery for `conn`: when this returns, no further notification for
  // it reaches the callback. Waits for a callback in progress for `conn` to
  // return, except on the notification thread itself. False for a handle
  // that is not open. Any thread.
  bool closeConnection(int32_t conn) EXCLUDES(mutex_);

  // Asks the thread to stop and returns at once: no callback starts after
  // this. Any thread, including the notification thread.
  void requestStop() EXCLUDES(mutex_);
  // requestStop(), then waits for the thread to end (a callback in progress
  // returns first). Not on the notification thread.
  void stop() EXCLUDES(mutex_);
  // Whether the caller runs on this object's thread.
  bool onThisThread() const;

 private:
  void run();
  void interruptBackend();
  // Whether `conn` is still open; called with callbackConn_ naming it.
  bool isOpen(int32_t conn) EXCLUDES(mutex_);
  void endCallback() EXCLUDES(mutex_);

  // BackendHost:
  void takeRequests(std::vector<ConnectionRequest>* opened, std::vector<int32_t>* closed) override;
  bool deliver(int32_t conn, Notice notice) override;
  void waitForWork(std::chrono::steady_clock::time_point deadline) override;
  bool stopping() const override;
  void wake() override;

  const ZuqonlCallback callback_;
  // Run on the thread only; any thread may call its interrupt().
  const std::unique_ptr<Backend> backend_;

  platform::Mutex mutex_;
  platform::CondVar workArrived_;       // a request, wake() or stop
  platform::CondVar callbackReturned_;  // for closeConnection's wait
  bool stopRequested_ GUARDED_BY(mutex_) = false;
  bool woken_ GUARDED_BY(mutex_) = false;
  int32_t nextConn_ GUARDED_BY(mutex_) = 1;
  std::set<int32_t> openConns_ GUARDED_BY(mutex_);
  std::vector<ConnectionRequest> opened_ GUARDED_BY(mutex_);
  std::vector<int32_t> closed_ GUARDED_BY(mutex_);
  // Mirrors of stopRequested_ and "requests waiting", read without the lock
  // on every step of the thread.
  std::atomic<bool> stopping_{false};
  std::atomic<bool> requestsWaiting_{false};
  // The handle whose callback is in progress (kNoCallback: none), the count
  // of closeConnection calls so far and of closers waiting for a callback to
  // return. A callback starts only after its handle is published here and
  // the count is seen unchanged since the handle was last found open; a
  // closer counts its close before it looks here: one sees the other, so a
  // row needs no lock.
  static constexpr int32_t kNoCallback = -1;
  std::atomic<int32_t> callbackConn_{kNoCallback};
  std::atomic<uint64_t> closings_{0};
  std::atomic<int> closersWaiting_{0};
  int32_t knownOpenConn_ = 0;    // on the thread only: found open when
  uint64_t knownAtClosing_ = 0;  // closings_ was this

  // The thread's id, published by the thread itself as it starts: compared
  // instead of thread_'s, which another thread may be joining.
  std::atomic<std::thread::id> id_{};
  std::thread thread_;  // last: starts once everything above exists
};

}  // namespace zuqonl
