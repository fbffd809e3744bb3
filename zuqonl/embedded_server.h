// The data server embedded in the library: serves the table files of one
// folder in process, one TableStream per connection.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "backend.h"
#include "dataserver/table_stream.h"

namespace zuqonl {

class EmbeddedServer final : public Backend {
 public:
  // Serves the table files in `dataDir` (absolute; table T is file T.csv).
  explicit EmbeddedServer(std::string dataDir);

  // Reports NetIntegrityOk (naming the folder) and DsConnected, then serves
  // the connections round-robin, one event each per turn, so that a pausing
  // or long table never holds up another. Per connection: Connected, Format,
  // then one notification per event of its stream until End. A table that
  // cannot be opened gets one Error with the stream's message and nothing
  // more.
  void run(BackendHost& host) override;

 private:
  using Clock = std::chrono::steady_clock;

  struct Connection {
    int32_t conn = 0;
    dataserver::TableStream stream;
    // A Pause holds the connection until then; the earliest time when none
    // does.
    Clock::time_point readyAt = Clock::time_point::min();
    bool ended = false;
  };

  void applyRequests(BackendHost& host);
  void admit(BackendHost& host, const ConnectionRequest& request);
  // The next connection whose turn it is and that is not paused; null when
  // none is, with the earliest time one will be in *wakeAt.
  Connection* nextReady(Clock::time_point* wakeAt);
  void serveOneEvent(BackendHost& host, Connection& connection);

  const std::string dataDir_;
  std::vector<std::unique_ptr<Connection>> connections_;
  size_t nextTurn_ = 0;  // index into connections_ of the next one to serve
  dataserver::TableEvent event_;
  // The values of the row in event_, viewing the stream's read buffer until
  // the stream's next event; the notification block takes its copy of them.
  std::vector<std::string_view> rowValues_;
  std::vector<ConnectionRequest> opened_;  // reused between applyRequests calls
  std::vector<int32_t> closed_;
};

}  // namespace zuqonl
