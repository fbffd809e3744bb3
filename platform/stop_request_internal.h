// Between the stop service's common part (stop_request.cpp) and its
// platform's part (stop_request_posix.cpp, stop_request_win32.cpp).
#pragma once

#include <string>

#include "platform/stop_request.h"

namespace platform::stop_detail {

// Common part, called by the platform's receiver on its thread with the
// request's code (never 0): the first calls the handler, when one is set and
// returns; every other ends the process at once, once no hold is left.
void receive(int code);

// A request the system has taken but the service's thread has not yet
// received (its code), or 0. POSIX: a stop signal pending, which would
// otherwise be lost if the process ended first; Windows: none, its handler
// is called by the system.
int pendingCode();

// Platform part: what the code means, for the program's closing line.
StopRequest describe(int code);
// Platform part: ends the process as the request `code` asks, at once.
[[noreturn]] void endAtOnce(int code);
// Platform part: removes the file at `path`, as far as the system allows
// while it is open.
void removeFile(const std::string& path);

}  // namespace platform::stop_detail
