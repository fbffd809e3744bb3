// Stop requests on Windows: the console's Ctrl+C and Ctrl+Break, and a
// named event for a server that has no console to receive them.
#include <windows.h>

#include <atomic>
#include <thread>

#include "zuqds/stop_request.h"

namespace zuqds {

namespace {

// The console handler is a C callback without a user argument: it reaches
// the one live StopRequests through this pointer, set while it lives.
std::atomic<StopRequests*> g_watcher{nullptr};
std::function<void(const char* what)> g_request;  // set before g_watcher, cleared after

BOOL WINAPI onConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  if (g_watcher.load() == nullptr) return FALSE;
  g_request(type == CTRL_C_EVENT ? "Ctrl+C" : "Ctrl+Break");
  return TRUE;
}

}  // namespace

struct StopRequests::State {
  asio::io_context* io = nullptr;
  std::function<void(const std::string& what)> onStop;
  bool stopped = false;  // io's thread only
  HANDLE stopEvent = nullptr;
  HANDLE quitEvent = nullptr;
  std::thread eventWatch;

  // Any thread: hands the request to io's thread.
  void request(const char* what) {
    asio::post(*io, [this, text = std::string(what)] {
      if (stopped) return;
      stopped = true;
      onStop(text);
    });
  }
};

StopRequests::StopRequests(asio::io_context& io,
                           std::function<void(const std::string& what)> onStop)
    : state_(std::make_unique<State>()) {
  State* state = state_.get();
  state->io = &io;
  state->onStop = std::move(onStop);
  const std::string name = "Local\\zuq-stop-" + std::to_string(GetCurrentProcessId());
  state->stopEvent = CreateEventA(nullptr, TRUE, FALSE, name.c_str());
  state->quitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (state->stopEvent != nullptr && state->quitEvent != nullptr) {
    state->eventWatch = std::thread([state] {
      const HANDLE events[] = {state->stopEvent, state->quitEvent};
      if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
        state->request("stop request");
      }
    });
  }
  g_request = [state](const char* what) { state->request(what); };
  g_watcher = this;
  SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

StopRequests::~StopRequests() {
  SetConsoleCtrlHandler(onConsoleControl, FALSE);
  g_watcher = nullptr;
  if (state_->eventWatch.joinable()) {
    SetEvent(state_->quitEvent);
    state_->eventWatch.join();
  }
  for (HANDLE event : {state_->stopEvent, state_->quitEvent}) {
    if (event != nullptr) CloseHandle(event);
  }
}

}  // namespace zuqds
