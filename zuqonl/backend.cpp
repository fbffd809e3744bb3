#include "backend.h"

#include <filesystem>

#include "embedded_server.h"

namespace zuqonl {

std::unique_ptr<Backend> makeBackend(const Settings& settings, std::string* err) {
  if (settings.iniPath.empty()) {
    *err = "no data source: no INI file was named";
    return nullptr;
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(settings.iniPath, ec)) {
    *err = "no data source: INI file '" + settings.iniPath + "' not found";
    return nullptr;
  }
  if (settings.dataDir.empty()) {
    *err = "no data source: no \"data_dir\" in section [zuqonl] of '" + settings.iniPath + "'";
    if (!settings.server.empty()) *err += " (\"server\" needs the network client, not built)";
    return nullptr;
  }
  std::string why;
  if (!EmbeddedServer::checkDataDir(settings.dataDir, &why)) {
    *err = "no data source: " + why + " (from '" + settings.iniPath + "')";
    return nullptr;
  }
  return std::make_unique<EmbeddedServer>(settings.dataDir);
}

}  // namespace zuqonl
