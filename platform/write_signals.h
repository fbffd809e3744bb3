// Writes that POSIX answers with a signal that ends the process: to a pipe
// whose reader has gone (SIGPIPE), and past the file-size limit (SIGXFSZ, as
// under `ulimit -f`). Windows has neither; the write fails there.
#pragma once

namespace platform {

// Makes such writes fail (EPIPE, EFBIG) instead of ending the process, as on
// Windows, so that the program handles the failure: the report's run removes
// what it was writing and ends in order, zuqds drops the client that went
// away. Called once by main before anything is written.
void ignoreWriteSignals();

}  // namespace platform
