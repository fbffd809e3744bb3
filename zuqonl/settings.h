// The library's settings: section "zuqonl" of the program's INI file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dataserver/host_port.h"

namespace zuqonl {

struct Settings {
  std::string iniPath;  // as given to zuqonlSetIniPath; empty when none was given
  // Folder of table files served by the embedded data server, made absolute
  // (a relative value is taken from the INI file's folder); empty when unset.
  std::string dataDir;
  // File that receives a copy of every log line, resolved like dataDir;
  // empty when unset.
  std::string logFile;
  // Address of a network data server ("HOST:PORT") as written; empty when
  // unset. When set, the library uses the network client and no data_dir.
  std::string server;
  // Pause between connection attempts to the server, in milliseconds,
  // brought into [kMinReconnectMs, kMaxReconnectMs]; the value is read as a
  // signed 32-bit number, so a negative one becomes the shortest pause.
  uint32_t reconnectMs = 1000;
};

inline constexpr uint32_t kMinReconnectMs = 10;
inline constexpr uint32_t kMaxReconnectMs = 600000;

// A data server's address as "server" gives it: a host (an IPv4 address, a
// host name or an IPv6 address, without its brackets) and a port.
using ServerAddress = dataserver::HostPort;

// Reads "HOST:PORT" as dataserver::parseHostPort() does, port 1 to 65535.
// False with a finished message in *err naming `text`.
bool parseServerAddress(const std::string& text, ServerAddress* address, std::string* err);

// Reads the settings from the INI file at `iniPath` (a missing file or
// section gives empty settings). Any thread; reads the file on each call.
Settings readSettings(const std::string& iniPath);

// Warnings about section "zuqonl" of the INI file at `iniPath`, one finished
// log line each ("[zuqonl] Warning: ...\n"): a key the library does not
// know, with the known key nearest to it. Reading them changes nothing.
std::vector<std::string> settingsWarnings(const std::string& iniPath);

// `path` taken from the folder of `iniPath` when relative, made absolute and
// lexically normal. Empty stays empty.
std::string resolveFromIniFolder(const std::string& iniPath, const std::string& path);

}  // namespace zuqonl
