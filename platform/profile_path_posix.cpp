#include "platform/profile.h"

namespace platform {

const char kDefaultIniPath[] = "./ZUQTradeReport.ini";

}  // namespace platform
