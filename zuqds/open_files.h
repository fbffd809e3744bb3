// How many files, sockets included, zuqds may hold open: what sizes its
// client limit, so that a client beyond it is told "server full" rather than
// left unaccepted for want of a file handle.
#pragma once

#include <cstddef>
#include <string>

namespace zuqds {

// Raises the process's limit of open files as far as it is allowed (on
// POSIX, the soft limit up to the hard one) and returns the limit then in
// force. Called once, by main(), before the server starts.
size_t raiseOpenFileLimit();

// That limit as the log line that brings the client limit down names it, in
// the system's own words: what an operator looks up to raise it.
std::string openFileLimitText(size_t limit);

}  // namespace zuqds
