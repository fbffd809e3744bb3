// Stop requests on Windows: a console control handler, which the system
// calls on a thread of its own for Ctrl+C, Ctrl+Break, the console window
// closed, logoff and shutdown.
#include <windows.h>

#include "platform/stop_request.h"
#include "platform/stop_request_internal.h"

namespace platform {

namespace {

// The status of a console program that Ctrl+C (or Ctrl+Break) ended:
// what the system's own handler gives, and what the program gave before it
// had a handler of its own.
constexpr DWORD kControlCExit = 0xC000013A;  // STATUS_CONTROL_C_EXIT

// Codes of the common part are the control events plus one: 0 is Ctrl+C's.
constexpr int codeOf(DWORD event) { return static_cast<int>(event) + 1; }

BOOL WINAPI onConsoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      stop_detail::receive(codeOf(event));
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      stop_detail::receive(codeOf(event));
      // The system ends the process as soon as this returns: the orderly
      // stop is waited for here, and ends the process itself.
      Sleep(INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

namespace stop_detail {

StopRequest describe(int code) {
  const int status = static_cast<int>(kControlCExit);
  switch (static_cast<DWORD>(code - 1)) {
    case CTRL_C_EVENT:
      return {"Ctrl+C", status};
    case CTRL_BREAK_EVENT:
      return {"Ctrl+Break", status};
    case CTRL_CLOSE_EVENT:
      return {"the console window closing", status};
    case CTRL_LOGOFF_EVENT:
      return {"logoff", status};
    default:
      return {"shutdown", status};
  }
}

void endAtOnce(int) { ExitProcess(kControlCExit); }

// A temporary file still open is not removed (Windows refuses to delete
// it): it stays behind.
void removeFile(const std::string& path) { DeleteFileA(path.c_str()); }

int pendingCode() { return 0; }

}  // namespace stop_detail

void watchStopRequests() { SetConsoleCtrlHandler(onConsoleControl, TRUE); }

}  // namespace platform
