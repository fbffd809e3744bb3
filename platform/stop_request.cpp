#include "platform/stop_request.h"

#include <atomic>
#include <cstdlib>
#include <utility>

#include "platform/mutex.h"
#include "platform/stop_request_internal.h"

namespace platform {

namespace {

// Made once and never destroyed: a request may arrive while the process
// ends, after static objects are gone.
struct StopState {
  Mutex mutex;
  CondVar holdsChanged;
  std::function<void()> handler GUARDED_BY(mutex);
  int holds GUARDED_BY(mutex) = 0;
  std::string pendingFile GUARDED_BY(mutex);
};

StopState& state() {
  static StopState* const made = new StopState;
  return *made;
}

// The code of the first request, 0 before it: read without the lock by
// every stopRequest().
std::atomic<int> firstRequest{0};

}  // namespace

namespace stop_detail {

void receive(int code) {
  // Noted before anything that may wait: from the moment the signal is
  // taken off the pending ones, the program asking sees it here.
  int none = 0;
  const bool first = firstRequest.compare_exchange_strong(none, code);
  StopState& stop = state();
  MutexLock lock(stop.mutex);
  // Under the lock, so that clearing the handler waits for a call that runs.
  if (first && stop.handler) {
    stop.handler();
    return;
  }
  while (stop.holds > 0) stop.holdsChanged.wait(stop.mutex);
  if (!stop.pendingFile.empty()) removeFile(stop.pendingFile);
  endAtOnce(code);
}

}  // namespace stop_detail

void setStopHandler(std::function<void()> handler) {
  StopState& stop = state();
  MutexLock lock(stop.mutex);
  stop.handler = std::move(handler);
}

// The first request, or one the system has taken and the service's thread
// is about to receive: the program acts on it as soon as it asks, so that a
// run that finishes meanwhile does not end as if no request had come.
namespace {

int requestCode() {
  const int code = firstRequest.load();
  return code != 0 ? code : stop_detail::pendingCode();
}

}  // namespace

StopRequest stopRequest() {
  const int code = requestCode();
  return code == 0 ? StopRequest{} : stop_detail::describe(code);
}

StopHold::StopHold() {
  StopState& stop = state();
  MutexLock lock(stop.mutex);
  ++stop.holds;
  requestedBefore_ = requestCode() != 0;
}

StopHold::~StopHold() {
  StopState& stop = state();
  MutexLock lock(stop.mutex);
  if (--stop.holds == 0) stop.holdsChanged.notifyAll();
}

void removeOnImmediateStop(const std::string& path) {
  StopState& stop = state();
  MutexLock lock(stop.mutex);
  stop.pendingFile = path;
}

void endAsStopRequested() {
  const int code = requestCode();
  if (code == 0) std::_Exit(1);
  stop_detail::endAtOnce(code);
}

}  // namespace platform
