#include "backend.h"

#include <cerrno>
#include <cstdio>

#include "dataserver/data_dir.h"
#include "embedded_server.h"
#include "platform/error_text.h"
#include "platform/profile.h"
#include "platform/regular_file.h"
#ifdef ZUQONL_WITH_NETWORK
#include "network_client.h"
#endif

namespace zuqonl {

using dataserver::EventKind;

namespace {

std::unique_ptr<Backend> makeNetworkClient(const Settings& settings, std::string* err) {
  ServerAddress address;
  std::string why;
  if (!parseServerAddress(settings.server, &address, &why)) {
    *err = "no data source: " + why + " (from '" + settings.iniPath + "')";
    return nullptr;
  }
#ifdef ZUQONL_WITH_NETWORK
  return std::make_unique<NetworkClient>(address, settings.server,
                                         std::chrono::milliseconds(settings.reconnectMs));
#else
  *err = "no data source: \"server\" needs the network client, which this build leaves out";
  return nullptr;
#endif
}

// Why the file at `iniPath` gives no settings (the profile reader then reads
// it as missing), or empty when it can be read.
std::string iniFileFault(const std::string& iniPath) {
  int error = 0;
  std::FILE* file = platform::openRegularFile(iniPath.c_str(), &error);
  if (file == nullptr) {
    if (error == ENOENT) return "not found";
    if (error == platform::kNotRegularFile) return "is not a regular file";
    return "cannot be read: " + platform::errnoText(error);
  }
  uint64_t size = 0;
  const bool sized = platform::regularFileSize(file, &size);
  char start[2];
  const size_t got = std::fread(start, 1, sizeof start, file);
  std::fclose(file);
  if (sized && size > platform::kMaxProfileBytes) {
    return "is larger than " + std::to_string(platform::kMaxProfileBytes >> 20) + " MiB";
  }
  if (const char* encoding = platform::unreadableProfileEncoding(std::string_view(start, got))) {
    return "is saved as " + std::string(encoding) +
           " (Unicode), which is not read: save it as ANSI";
  }
  return "";
}

}  // namespace

int32_t rowCode(EventKind kind) {
  if (kind == EventKind::UpdateRow) return ZUQONL_UPDATE_ROW;
  if (kind == EventKind::DeleteRow) return ZUQONL_DELETE_ROW;
  return ZUQONL_ADD_ROW;
}

void deliverTableEvent(BackendHost& host, int32_t conn, const dataserver::TableEvent& event,
                       const std::vector<std::string_view>* rowValues) {
  switch (event.kind) {
    case EventKind::AddRow:
    case EventKind::UpdateRow:
    case EventKind::DeleteRow:
      host.deliver(conn, rowValues != nullptr
                             ? Notice::row(rowCode(event.kind), conn, event.rowId, *rowValues)
                             : Notice::row(rowCode(event.kind), conn, event.rowId, event.values));
      break;
    case EventKind::Clear:
      host.deliver(conn, Notice::conn(ZUQONL_CLEAR, conn));
      break;
    case EventKind::Error:
      host.deliver(conn, Notice::error(conn, event.text));
      break;
    case EventKind::Synchronized:
      host.deliver(conn, Notice::conn(ZUQONL_SYNCHRONIZED, conn));
      break;
    case EventKind::DsDown:
      host.deliver(conn, Notice::bare(ZUQONL_DS_DISCONNECTED));
      break;
    case EventKind::DsUp:
      host.deliver(conn, Notice::bare(ZUQONL_DS_CONNECTED));
      break;
    case EventKind::NetLost:
      host.deliver(conn, Notice::bare(ZUQONL_NET_INTEGRITY_LOST));
      break;
    case EventKind::NetOk:
      host.deliver(conn, Notice::text(ZUQONL_NET_INTEGRITY_OK, event.text));
      break;
    case EventKind::Code:
      host.deliver(conn, Notice::bare(event.number));
      break;
    case EventKind::Pause:
    case EventKind::End:
      break;
  }
}

std::unique_ptr<Backend> makeBackend(const Settings& settings, std::string* err) {
  if (settings.iniPath.empty()) {
    *err = "no data source: no INI file was named";
    return nullptr;
  }
  const std::string fault = iniFileFault(settings.iniPath);
  if (!fault.empty()) {
    *err = "no data source: INI file '" + settings.iniPath + "' " + fault;
    return nullptr;
  }
  if (!settings.server.empty()) return makeNetworkClient(settings, err);
  if (settings.dataDir.empty()) {
    *err = "no data source: neither \"server\" nor \"data_dir\" in section [zuqonl] of '" +
           settings.iniPath + "'";
    return nullptr;
  }
  std::string why;
  if (!dataserver::checkDataDir("data_dir", settings.dataDir, &why)) {
    *err = "no data source: " + why + " (from '" + settings.iniPath + "')";
    return nullptr;
  }
  return std::make_unique<EmbeddedServer>(settings.dataDir);
}

}  // namespace zuqonl
