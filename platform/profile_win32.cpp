// INI reading on Windows: the system's own profile calls.
//
// The decisions our POSIX layer adds on top (a UTF-8 BOM at the start of the
// file skipped, an empty integer value giving the default) are not repeated
// here; the program's own INI path always names a folder.
#include <windows.h>

#include <string>

#include "platform/profile.h"

namespace platform {

const char kDefaultIniPath[] = ".\\ZUQTradeReport.ini";

namespace {

// Windows looks up a bare file name in the Windows directory; ours is always
// relative to the current directory, on every platform.
std::string withFolder(const char* path) {
  std::string full = path != nullptr ? path : "";
  if (full.find_first_of("\\/") == std::string::npos) full.insert(0, ".\\");
  return full;
}

}  // namespace

uint32_t getProfileString(const char* section, const char* key, const char* defaultValue,
                          char* buffer, uint32_t size, const char* path) {
  return GetPrivateProfileStringA(section, key, defaultValue, buffer, size,
                                  withFolder(path).c_str());
}

uint32_t getProfileInt(const char* section, const char* key, int32_t defaultValue,
                       const char* path) {
  return GetPrivateProfileIntA(section, key, defaultValue, withFolder(path).c_str());
}

}  // namespace platform
