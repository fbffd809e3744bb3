// Stop requests from an operator or the system, received by a thread of
// their own so that the program can stop in order: on POSIX the signals
// SIGINT (Ctrl+C), SIGTERM, SIGHUP (a closed terminal, a logged-out session)
// and SIGQUIT (Ctrl+\); on Windows the console's Ctrl+C and Ctrl+Break, its
// window closed, logoff and shutdown. The program is told of the first
// request, finishes or abandons what it does, and then ends the process as
// the request asks, with the status it would have given at once.
#pragma once

#include <functional>
#include <string>

namespace platform {

// What asked for the stop.
struct StopRequest {
  const char* name = nullptr;  // "SIGTERM", "Ctrl+C", ...; null: no request
  // The status a parent sees: 128 + the signal's number on POSIX (a shell's
  // $?, as a death by the signal gives it); -1073741510 (0xC000013A, the
  // status of a console program ended by Ctrl+C) on Windows.
  int exitStatus = 0;
  explicit operator bool() const { return name != nullptr; }
};

// Called by main first, before any thread is started: from then on stop
// requests reach the service's own thread (on POSIX the signals are blocked
// in every thread, which threads started later inherit, and waited for). A
// signal the process was started ignoring, as nohup leaves SIGHUP, stays
// ignored. While no handler is set, a request ends the process at once, as
// it would without the service.
void watchStopRequests();

// Sets the function the first request calls, on the service's thread, or
// clears it (null). It may take locks and must return soon: it tells the
// program, which stops at its next step and then calls endAsStopRequested.
// Clearing returns once no call of the handler runs. Any request after the
// first ends the process at once.
void setStopHandler(std::function<void()> handler);

// The first request received since the watch began; empty when none. Any
// thread; cheap enough to ask often.
StopRequest stopRequest();

// While one lives, no request ends the process: a request that comes
// meanwhile is kept (the first one still calls the handler) and acted on by
// the program afterwards, and a later one ends the process only once the
// last hold has gone. For a step that must not be cut: a file rewritten in
// place, from the moment its new length is taken until it stands whole.
// Owned by one thread.
class StopHold {
 public:
  StopHold();
  ~StopHold();
  StopHold(const StopHold&) = delete;
  StopHold& operator=(const StopHold&) = delete;

  // Whether a request had come before the hold began: the step is then
  // better not started at all.
  bool stopRequestedBefore() const { return requestedBefore_; }

 private:
  bool requestedBefore_;
};

// The file removed before a request ends the process at once: a temporary
// file being written, which would otherwise stay behind. Empty: none. Set
// and cleared by the file's one writer.
void removeOnImmediateStop(const std::string& path);

// Called last, after the program's orderly stop: ends the process as the
// first request asks (on POSIX by the signal's own default action, without a
// core dump; on Windows with the status of a console program stopped by
// Ctrl+C). Only after a request.
[[noreturn]] void endAsStopRequested();

}  // namespace platform
