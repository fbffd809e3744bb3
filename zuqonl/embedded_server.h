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
#include "table_read_ahead.h"

namespace zuqonl {

class EmbeddedServer final : public Backend {
 public:
  // Serves the table files in `dataDir` (absolute; table T is file T.csv).
  // `readAhead` false reads each table on the notification thread as it is
  // served, as when no thread can be started.
  explicit EmbeddedServer(std::string dataDir, bool readAhead = true);

  // Reports NetIntegrityOk (naming the folder) and DsConnected, then serves
  // the connections round-robin, one event each per turn, so that a pausing
  // or long table never holds up another. Per connection: Connected, Format,
  // then one notification per event of its stream until End. A table that
  // cannot be opened gets one Error with the stream's message and nothing
  // more. Each table is read on a thread of its own, ahead of its
  // notifications (TableReadAhead).
  //
  // Where the memory does not serve even one row at a time, the server
  // fails as a lost link does: a log line naming the memory, an Error for
  // each open connection saying so, NetIntegrityLost and DsDisconnected;
  // its tables are given up (their memory with them) and it serves nothing
  // more until the library is opened again, so the tables never synchronize.
  void run(BackendHost& host) override;

 private:
  using Clock = std::chrono::steady_clock;

  struct Connection {
    int32_t conn = 0;
    dataserver::TableStream stream;
    std::unique_ptr<TableReadAhead> reader;  // reads `stream` once it is open
    // A Pause holds the connection until then; the earliest time when none
    // does.
    Clock::time_point readyAt = Clock::time_point::min();
    bool ended = false;
  };

  void applyRequests(BackendHost& host);
  void admit(BackendHost& host, const ConnectionRequest& request);
  // The next connection whose turn it is, not paused and with an event read,
  // which is then in *event and row_; null when none is, with the earliest
  // time a paused one will be ready in *wakeAt (a reader wakes the host
  // when it has read on).
  Connection* nextReady(Clock::time_point* wakeAt, const dataserver::TableEvent** event);
  void serveOneEvent(BackendHost& host, Connection& connection,
                     const dataserver::TableEvent& event);
  // The link is lost for want of memory (see run); `what` is the failure's.
  void loseLink(BackendHost& host, const char* what);

  const std::string dataDir_;
  const bool readAhead_ = true;
  std::vector<std::unique_ptr<Connection>> connections_;
  size_t nextTurn_ = 0;  // index into connections_ of the next one to serve
  // The record of the row being served, in its reader's batch until the
  // reader's next event.
  TableReadAhead::Row row_;
  std::vector<ConnectionRequest> opened_;  // reused between applyRequests calls
  std::vector<int32_t> closed_;
};

}  // namespace zuqonl
