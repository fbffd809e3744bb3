#include "settings.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "platform/paths.h"
#include "platform/profile.h"

namespace zuqonl {
namespace {

constexpr char kSection[] = "zuqonl";
// Longer values are cut to this many bytes, like any profile read.
constexpr uint32_t kValueCapacity = 4096;

std::string readString(const std::string& iniPath, const char* key) {
  std::vector<char> buffer(kValueCapacity);
  uint32_t length =
      platform::getProfileString(kSection, key, "", buffer.data(), kValueCapacity, iniPath.c_str());
  return std::string(buffer.data(), length);
}

// Every key the library reads from its section.
const std::vector<std::string_view> kKnownKeys = {"server", "reconnect_ms", "data_dir", "log_file"};

}  // namespace

std::vector<std::string> settingsWarnings(const std::string& iniPath) {
  std::vector<std::string> warnings;
  if (iniPath.empty()) return warnings;
  for (const std::string& key : platform::readProfileKeys(kSection, iniPath.c_str()).keys) {
    if (platform::isKnownKey(key, kKnownKeys)) continue;
    std::string line = "[zuqonl] Warning: unknown key '" + key + "' in [zuqonl] is ignored";
    const std::string nearest = platform::nearestKey(key, kKnownKeys);
    if (!nearest.empty()) line += ": did you mean '" + nearest + "'?";
    warnings.push_back(line + "\n");
  }
  return warnings;
}

std::string resolveFromIniFolder(const std::string& iniPath, const std::string& path) {
  return platform::pathBesideFile(iniPath, path);
}

Settings readSettings(const std::string& iniPath) {
  Settings settings;
  settings.iniPath = iniPath;
  if (iniPath.empty()) return settings;
  settings.dataDir = resolveFromIniFolder(iniPath, readString(iniPath, "data_dir"));
  settings.logFile = resolveFromIniFolder(iniPath, readString(iniPath, "log_file"));
  settings.server = readString(iniPath, "server");
  // Signed, so that a negative value is below the range rather than huge.
  const int64_t reconnectMs = static_cast<int32_t>(
      platform::getProfileInt(kSection, "reconnect_ms", 1000, iniPath.c_str()));
  settings.reconnectMs =
      static_cast<uint32_t>(std::clamp<int64_t>(reconnectMs, kMinReconnectMs, kMaxReconnectMs));
  return settings;
}

bool parseServerAddress(const std::string& text, ServerAddress* address, std::string* err) {
  std::string fault;
  if (dataserver::parseHostPort(text, dataserver::PortZero::Refused, address, &fault)) return true;
  *err = "\"server\" is '" + text + "', not HOST:PORT: " + fault;
  return false;
}

}  // namespace zuqonl
