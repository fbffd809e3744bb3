#include "notification_thread.h"

#include <exception>
#include <string>

#include "logging.h"

namespace zuqonl {

NotificationThread::NotificationThread(ZuqonlCallback callback, std::unique_ptr<Backend> backend)
    : callback_(callback), backend_(std::move(backend)), thread_([this] { run(); }) {}

NotificationThread::~NotificationThread() {
  if (!thread_.joinable()) return;
  if (onThisThread()) {
    // The owner must not let go of the object inside a callback: the thread
    // still returns through it. The library keeps such a stopped thread until
    // it can be joined; this is a last resort that at least never blocks.
    requestStop();
    thread_.detach();
    return;
  }
  stop();
}

int32_t NotificationThread::openConnection(dataserver::Subscription subscription) {
  platform::MutexLock lock(mutex_);
  int32_t conn = nextConn_++;
  openConns_.insert(conn);
  opened_.push_back(ConnectionRequest{conn, std::move(subscription)});
  requestsWaiting_ = true;
  workArrived_.notifyOne();
  lock.unlock();
  interruptBackend();
  return conn;
}

bool NotificationThread::closeConnection(int32_t conn) {
  platform::MutexLock lock(mutex_);
  if (openConns_.erase(conn) == 0) return false;
  closed_.push_back(conn);
  requestsWaiting_ = true;
  closings_.fetch_add(1);
  workArrived_.notifyOne();
  lock.unlock();
  interruptBackend();
  // Waiting on the notification thread would wait for our own caller.
  if (!onThisThread()) {
    lock.lock();
    closersWaiting_.fetch_add(1);
    while (callbackConn_.load() == conn) callbackReturned_.wait(mutex_);
    closersWaiting_.fetch_sub(1);
  }
  return true;
}

void NotificationThread::requestStop() {
  {
    platform::MutexLock lock(mutex_);
    stopRequested_ = true;
    stopping_ = true;
    workArrived_.notifyOne();
  }
  interruptBackend();
}

// After the request is recorded, so that the backend finds it when it looks.
void NotificationThread::interruptBackend() {
  if (backend_ != nullptr) backend_->interrupt();
}

void NotificationThread::stop() {
  requestStop();
  if (thread_.joinable()) thread_.join();
}

bool NotificationThread::onThisThread() const { return id_.load() == std::this_thread::get_id(); }

void NotificationThread::run() {
  id_.store(std::this_thread::get_id());
  markNotificationThread();
  try {
    if (backend_ != nullptr) backend_->run(*this);
  } catch (const std::exception& e) {
    processLog().write(std::string("[zuqonl] notification thread stopped serving: ") + e.what() +
                       "\n");
  }
  // Without a data source, or after a failure, the thread stays until
  // zuqonlClose so that the library's life looks the same to the program.
  while (!stopping()) waitForWork(std::chrono::steady_clock::time_point::max());
  processLog().flush();
}

void NotificationThread::takeRequests(std::vector<ConnectionRequest>* opened,
                                      std::vector<int32_t>* closed) {
  if (!requestsWaiting_.load(std::memory_order_acquire)) return;
  platform::MutexLock lock(mutex_);
  for (ConnectionRequest& request : opened_) {
    if (openConns_.count(request.conn) != 0) opened->push_back(std::move(request));
  }
  opened_.clear();
  closed->insert(closed->end(), closed_.begin(), closed_.end());
  closed_.clear();
  requestsWaiting_ = false;
}

bool NotificationThread::deliver(int32_t conn, Notice notice) {
  if (stopping()) return false;
  callbackConn_.store(conn);
  struct CallbackEnd {
    NotificationThread* thread;
    ~CallbackEnd() { thread->endCallback(); }
  } end{this};
  if (!isOpen(conn)) return false;
  if (callback_ != nullptr) callback_(notice.code(), notice.record());
  return true;
}

bool NotificationThread::isOpen(int32_t conn) {
  if (conn == 0) return true;
  const uint64_t closings = closings_.load();
  if (conn == knownOpenConn_ && closings == knownAtClosing_) return true;
  platform::MutexLock lock(mutex_);
  if (openConns_.count(conn) == 0) return false;
  knownOpenConn_ = conn;
  knownAtClosing_ = closings;
  return true;
}

void NotificationThread::endCallback() {
  callbackConn_.store(kNoCallback);
  if (closersWaiting_.load() != 0) {
    // Taken so that no closer is between its look and its wait.
    { platform::MutexLock lock(mutex_); }
    callbackReturned_.notifyAll();
  }
}

void NotificationThread::waitForWork(std::chrono::steady_clock::time_point deadline) {
  processLog().flush();
  platform::MutexLock lock(mutex_);
  const bool forever = deadline == std::chrono::steady_clock::time_point::max();
  while (!stopRequested_ && !woken_ && opened_.empty() && closed_.empty()) {
    if (forever) {
      workArrived_.wait(mutex_);
    } else if (!workArrived_.waitUntil(mutex_, deadline)) {
      break;
    }
  }
  woken_ = false;
}

bool NotificationThread::stopping() const { return stopping_.load(std::memory_order_acquire); }

void NotificationThread::wake() {
  platform::MutexLock lock(mutex_);
  woken_ = true;
  workArrived_.notifyOne();
}

}  // namespace zuqonl
