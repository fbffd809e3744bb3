// A pipe without a reader on Windows: the write fails already.
#include "platform/broken_pipe.h"

namespace platform {

void ignoreBrokenPipes() {}

}  // namespace platform
