#include "platform/profile.h"

namespace platform {

std::string profilePathInCurrentFolder(std::string_view fileName) {
  return ".\\" + std::string(fileName);
}

}  // namespace platform
