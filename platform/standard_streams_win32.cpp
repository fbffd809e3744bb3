// The C runtime keeps descriptors 0 to 2 for the standard streams, open or
// not, and a file opened later never takes their numbers.
#include "platform/standard_streams.h"

namespace platform {

void reserveStandardStreams() {}

}  // namespace platform
