// Writes that fail instead of raising SIGPIPE or SIGXFSZ.
#include <signal.h>

#include "platform/write_signals.h"

namespace platform {

void ignoreWriteSignals() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace platform
