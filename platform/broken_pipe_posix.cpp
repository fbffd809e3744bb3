// A pipe without a reader on POSIX: the write fails instead of SIGPIPE.
#include <signal.h>

#include "platform/broken_pipe.h"

namespace platform {

void ignoreBrokenPipes() { signal(SIGPIPE, SIG_IGN); }

}  // namespace platform
