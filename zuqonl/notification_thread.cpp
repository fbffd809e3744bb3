#include "notification_thread.h"

#include <exception>
#include <string>

#include "logging.h"

namespace zuqonl {
namespace {

// The NotificationThread whose thread this is, if any; compared instead of
// thread ids so that no thread reads `thread_` while another joins it.
thread_local const NotificationThread* t_current = nullptr;

}  // namespace

NotificationThread::NotificationThread(ZuqonlCallback callback, std::unique_ptr<Backend> backend)
    : callback_(callback),
      backend_(std::move(backend)),
      rowBlocks_(kBatches * kBatchNotices + 2),
      free_(kBatches - 1),
      thread_([this] { run(); }) {}

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
  std::unique_lock lock(mutex_);
  int32_t conn = nextConn_++;
  openConns_.insert(conn);
  opened_.push_back(ConnectionRequest{conn, std::move(subscription)});
  requestsWaiting_ = true;
  workArrived_.notify_one();
  lock.unlock();
  interruptBackend();
  return conn;
}

bool NotificationThread::closeConnection(int32_t conn) {
  std::unique_lock lock(mutex_);
  if (openConns_.erase(conn) == 0) return false;
  closed_.push_back(conn);
  requestsWaiting_ = true;
  closings_.fetch_add(1);
  workArrived_.notify_one();
  lock.unlock();
  interruptBackend();
  // Waiting on the notification thread would wait for our own caller.
  if (!onThisThread()) {
    lock.lock();
    closersWaiting_.fetch_add(1);
    callbackReturned_.wait(lock, [&] { return callbackConn_.load() != conn; });
    closersWaiting_.fetch_sub(1);
  }
  return true;
}

void NotificationThread::requestStop() {
  {
    std::lock_guard lock(mutex_);
    stopRequested_ = true;
    stopping_ = true;
    workArrived_.notify_one();
  }
  {
    // Taken so that neither thread is between its look at stopping_ and its
    // wait.
    std::lock_guard lock(batchMutex_);
  }
  batchReady_.notify_all();
  batchFreed_.notify_all();
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

bool NotificationThread::onThisThread() const { return t_current == this; }

// ---- The notification thread ----

void NotificationThread::run() {
  t_current = this;
  markNotificationThread();
  if (backend_ != nullptr) server_ = std::thread([this] { serve(); });
  Batch batch;
  // Without a data source, or after a failure, the thread stays until
  // zuqonlClose so that the library's life looks the same to the program.
  while (!stopping_.load()) {
    {
      std::unique_lock lock(batchMutex_);
      while (ready_.empty() && !stopping_.load()) {
        if (flushWanted_) {
          // All delivered and the serving thread waits: so does the log.
          flushWanted_ = false;
          lock.unlock();
          processLog().flush();
          lock.lock();
          continue;
        }
        batchReady_.wait(lock);
      }
      if (ready_.empty()) break;
      batch = std::move(ready_.front());
      ready_.pop_front();
      delivering_ = true;
    }
    deliverBatch(batch);
    batch.clear();
    {
      std::lock_guard lock(batchMutex_);
      free_.push_back(std::move(batch));
      delivering_ = false;
    }
    batchFreed_.notify_one();
  }
  if (server_.joinable()) server_.join();
  // The backend's log lines are kept even when their notifications are not.
  for (Batch& left : ready_) deliverBatch(left);
  ready_.clear();
  processLog().flush();
}

void NotificationThread::deliverBatch(Batch& batch) {
  for (Item& item : batch.items) {
    if (item.logLine >= 0) {
      if (!abandoned_) processLog().write(batch.logLines[static_cast<size_t>(item.logLine)]);
      continue;
    }
    if (stopping()) continue;
    callbackConn_.store(item.conn);
    if (isOpen(item.conn) && callback_ != nullptr) {
      try {
        callback_(item.notice.code(), item.notice.record());
      } catch (const std::exception& e) {
        // As if the backend had failed: nothing more is served.
        processLog().write(std::string("[zuqonl] notification thread stopped serving: ") +
                           e.what() + "\n");
        abandoned_ = true;
        wake();
        interruptBackend();
      }
    }
    // The record goes before the next callback, as the program was promised.
    item.notice = Notice();
    endCallback();
  }
}

// Called with callbackConn_ already naming `conn`.
bool NotificationThread::isOpen(int32_t conn) {
  if (conn == 0) return true;
  const uint64_t closings = closings_.load();
  if (conn == knownOpenConn_ && closings == knownAtClosing_) return true;
  std::lock_guard lock(mutex_);
  if (openConns_.count(conn) == 0) return false;
  knownOpenConn_ = conn;
  knownAtClosing_ = closings;
  return true;
}

void NotificationThread::endCallback() {
  callbackConn_.store(kNoCallback);
  if (closersWaiting_.load() != 0) {
    { std::lock_guard lock(mutex_); }
    callbackReturned_.notify_all();
  }
}

// ---- The serving thread ----

void NotificationThread::serve() {
  RowBlockRing::useOnThisThread(&rowBlocks_);
  try {
    backend_->run(*this);
  } catch (const std::exception& e) {
    log(std::string("[zuqonl] notification thread stopped serving: ") + e.what() + "\n");
  }
  RowBlockRing::useOnThisThread(nullptr);
  {
    std::lock_guard lock(batchMutex_);
    if (!filling_.items.empty()) ready_.push_back(std::move(filling_));
    flushWanted_ = true;
  }
  batchReady_.notify_one();
}

void NotificationThread::handOver(bool idle) {
  const bool filled = !filling_.items.empty();
  if (!filled && !idle) return;
  std::unique_lock lock(batchMutex_);
  if (filled) ready_.push_back(std::move(filling_));
  flushWanted_ = flushWanted_ || idle;
  batchReady_.notify_one();
  if (!filled) return;
  batchFreed_.wait(lock, [&] { return !free_.empty() || stopping(); });
  if (free_.empty()) {
    // Stopping: nothing will be delivered any more, only logged.
    filling_ = Batch();
    return;
  }
  filling_ = std::move(free_.back());
  free_.pop_back();
}

void NotificationThread::takeRequests(std::vector<ConnectionRequest>* opened,
                                      std::vector<int32_t>* closed) {
  if (!requestsWaiting_.load(std::memory_order_acquire)) return;
  std::lock_guard lock(mutex_);
  for (ConnectionRequest& request : opened_) {
    if (openConns_.count(request.conn) != 0) opened->push_back(std::move(request));
  }
  opened_.clear();
  closed->insert(closed->end(), closed_.begin(), closed_.end());
  closed_.clear();
  requestsWaiting_ = false;
}

void NotificationThread::deliver(int32_t conn, Notice notice) {
  if (stopping()) return;
  filling_.items.push_back(Item{conn, -1, std::move(notice)});
  if (filling_.items.size() >= kBatchNotices) handOver(false);
}

void NotificationThread::log(std::string text) {
  filling_.items.push_back(Item{0, static_cast<int32_t>(filling_.logLines.size()), Notice()});
  filling_.logLines.push_back(std::move(text));
  if (filling_.items.size() >= kBatchNotices) handOver(false);
}

void NotificationThread::beforeBlocking() { handOver(true); }

void NotificationThread::awaitDelivery() {
  handOver(false);
  std::unique_lock lock(batchMutex_);
  batchFreed_.wait(lock, [&] { return (ready_.empty() && !delivering_) || stopping(); });
}

void NotificationThread::waitForWork(std::chrono::steady_clock::time_point deadline) {
  handOver(true);
  std::unique_lock lock(mutex_);
  auto ready = [&] { return stopRequested_ || woken_ || !opened_.empty() || !closed_.empty(); };
  if (deadline == std::chrono::steady_clock::time_point::max()) {
    workArrived_.wait(lock, ready);
  } else {
    workArrived_.wait_until(lock, deadline, ready);
  }
  woken_ = false;
}

bool NotificationThread::stopping() const {
  return stopping_.load(std::memory_order_acquire) || abandoned_.load(std::memory_order_relaxed);
}

void NotificationThread::wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  workArrived_.notify_one();
}

}  // namespace zuqonl
