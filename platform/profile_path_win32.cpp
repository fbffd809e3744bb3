#include "platform/profile.h"

namespace platform {

// Not the bare file name: the program's INI file is always taken from the
// current folder, never from the Windows folder.
const char kDefaultIniPath[] = ".\\ZUQTradeReport.ini";

}  // namespace platform
