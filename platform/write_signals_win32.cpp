// Windows raises no signal for a write: the write fails already.
#include "platform/write_signals.h"

namespace platform {

void ignoreWriteSignals() {}

}  // namespace platform
