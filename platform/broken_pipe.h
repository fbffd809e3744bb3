// Writing to a pipe whose reader has gone: on Windows the write fails; on
// POSIX the process is killed by SIGPIPE unless it says otherwise.
#pragma once

namespace platform {

// Makes a write to a pipe without a reader fail (EPIPE) instead of ending
// the process, as on Windows. Called once by main before anything is written.
void ignoreBrokenPipes();

}  // namespace platform
