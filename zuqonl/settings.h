// The library's settings: section "zuqonl" of the program's INI file.
#pragma once

#include <cstdint>
#include <string>

namespace zuqonl {

struct Settings {
  std::string iniPath;  // as given to zuqonlSetIniPath; empty when none was given
  // Folder of table files served by the embedded data server, made absolute
  // (a relative value is taken from the INI file's folder); empty when unset.
  std::string dataDir;
  // File that receives a copy of every log line, resolved like dataDir;
  // empty when unset.
  std::string logFile;
  // Address of a network data server and the pause between connection
  // attempts to it; read for the network client, unused by the embedded one.
  std::string server;
  uint32_t reconnectMs = 1000;
};

// Reads the settings from the INI file at `iniPath` (a missing file or
// section gives empty settings). Any thread; reads the file on each call.
Settings readSettings(const std::string& iniPath);

// `path` taken from the folder of `iniPath` when relative, made absolute and
// lexically normal. Empty stays empty.
std::string resolveFromIniFolder(const std::string& iniPath, const std::string& path);

}  // namespace zuqonl
