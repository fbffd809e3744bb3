// Stop requests on POSIX: the four stop signals, blocked in every thread and
// taken by one thread of the service's own with sigwait, so that the program
// is told on an ordinary thread (which may take locks) instead of in a
// signal handler.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstring>
#include <system_error>
#include <thread>

#include "platform/stop_request.h"
#include "platform/stop_request_internal.h"

namespace platform {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// The signals the service's thread waits for; written once, before any
// other thread starts.
sigset_t watchedSignals;
bool watching = false;

}  // namespace

namespace stop_detail {

StopRequest describe(int code) {
  switch (code) {
    case SIGINT:
      return {"SIGINT", 128 + SIGINT};
    case SIGTERM:
      return {"SIGTERM", 128 + SIGTERM};
    case SIGHUP:
      return {"SIGHUP", 128 + SIGHUP};
    default:
      return {"SIGQUIT", 128 + SIGQUIT};
  }
}

void endAtOnce(int code) {
  // SIGQUIT's default action would write a core dump: of a run that
  // stopped on request there is nothing to look into, and its memory holds
  // the day's trades.
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  signal(code, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, code);
  // Pending on this thread, then let through: the default action ends the
  // process, and a parent sees the death by the signal it sent.
  raise(code);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  _exit(128 + code);
}

void removeFile(const std::string& path) { unlink(path.c_str()); }

int pendingCode() {
  sigset_t pending;
  if (!watching || sigpending(&pending) != 0) return 0;
  for (int number : kStopSignals) {
    if (sigismember(&watchedSignals, number) == 1 && sigismember(&pending, number) == 1) {
      return number;
    }
  }
  return 0;
}

}  // namespace stop_detail

void watchStopRequests() {
  sigset_t watched;
  sigemptyset(&watched);
  bool any = false;
  for (int number : kStopSignals) {
    struct sigaction current;
    if (sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
    sigaddset(&watched, number);
    any = true;
  }
  if (!any) return;
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &watched, &before);
  watchedSignals = watched;
  watching = true;
  try {
    std::thread([watched] {
      for (;;) {
        int number = 0;
        if (sigwait(&watched, &number) == 0) stop_detail::receive(number);
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread to take them: the signals act as they would without us.
    watching = false;
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }
}

}  // namespace platform
