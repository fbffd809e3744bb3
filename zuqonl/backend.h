// A source of notifications run on the notification thread: the embedded
// data server or the network client of a data server. The notification
// thread owns the connection handles and the way to the program's callback;
// a backend turns subscriptions into notifications and hands them over.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "dataserver/table_stream.h"
#include "notice.h"
#include "settings.h"

namespace zuqonl {

// A subscription opened by the program, under its connection handle.
struct ConnectionRequest {
  int32_t conn = 0;
  dataserver::Subscription subscription;
};

// The notification thread as a backend sees it. Every call but wake() is for
// the notification thread only.
class BackendHost {
 public:
  // Moves out the subscriptions opened since the last call (in the order the
  // program opened them, leaving out those already closed again) and the
  // handles closed since then (possibly ones the backend never saw).
  virtual void takeRequests(std::vector<ConnectionRequest>* opened,
                            std::vector<int32_t>* closed) = 0;
  // Calls the program's callback with `notice`, holding no lock, unless the
  // library is stopping or `conn` (0: a notification of no connection) has
  // been closed. The notice's record is freed when this returns. True when
  // the callback was called.
  virtual bool deliver(int32_t conn, Notice notice) = 0;
  // Blocks until `deadline`, a request, wake() or a stop, whichever is first.
  // The log is flushed before blocking.
  virtual void waitForWork(std::chrono::steady_clock::time_point deadline) = 0;
  // True once zuqonlClose asked the library to stop.
  virtual bool stopping() const = 0;
  // Ends a waitForWork in progress (or the next one). Any thread: lets a
  // backend's own I/O thread rouse the notification thread.
  virtual void wake() = 0;

 protected:
  ~BackendHost() = default;
};

class Backend {
 public:
  virtual ~Backend() = default;
  // Runs on the notification thread from zuqonlOpen: reports the link and
  // the data server's state, serves the subscriptions it takes from `host`,
  // and returns once host.stopping() is true.
  virtual void run(BackendHost& host) = 0;
  // Any thread, at any time while the backend exists (also before run()
  // begins or after it returned): a request or a stop is waiting for run().
  // A backend that blocks only in host.waitForWork needs nothing more, so
  // the default does nothing; one that blocks elsewhere returns to its loop.
  virtual void interrupt() {}
};

// The notification code of a row event (AddRow, UpdateRow, DeleteRow).
int32_t rowCode(dataserver::EventKind kind);

// The notifications of one table event for connection `conn`, the same for
// every backend: rows, Clear, Error, Synchronized, the scripted link and
// data-server states and raw codes. Pause and End deliver nothing; the
// backend acts on them itself.
// A row event whose values the stream left in `rowValues` (TableStream's
// next(out, values)) is delivered from those.
void deliverTableEvent(BackendHost& host, int32_t conn, const dataserver::TableEvent& event,
                       const std::vector<std::string_view>* rowValues = nullptr);

// The backend for `settings`: the network client when "server" is set (then
// "data_dir" is not looked at), else the embedded data server serving
// data_dir. Null with a finished message in *err (naming the INI file, the
// folder or the value) when the settings give no usable data source.
std::unique_ptr<Backend> makeBackend(const Settings& settings, std::string* err);

}  // namespace zuqonl
