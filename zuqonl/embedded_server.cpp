#include "embedded_server.h"

#include <algorithm>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "logging.h"

namespace zuqonl {

using dataserver::EventKind;

namespace {

// The Error of a table given up for want of memory, which a program may log
// and show as the reason its table never came.
constexpr char kNotServing[] =
    "the library ran out of memory serving this table: link lost, the table is not served";

}  // namespace

EmbeddedServer::EmbeddedServer(std::string dataDir, bool readAhead)
    : dataDir_(std::move(dataDir)), readAhead_(readAhead) {}

void EmbeddedServer::run(BackendHost& host) {
  host.deliver(0, Notice::text(ZUQONL_NET_INTEGRITY_OK,
                               "embedded data server, data_dir '" + dataDir_ + "'"));
  host.deliver(0, Notice::bare(ZUQONL_DS_CONNECTED));
  // The readers wake the host: they end while it is there, also when
  // serving fails (out of memory) and this leaves by an exception.
  struct EndReaders {
    std::vector<std::unique_ptr<Connection>>& connections;
    ~EndReaders() { connections.clear(); }
  } endReaders{connections_};
  try {
    while (!host.stopping()) {
      applyRequests(host);
      Clock::time_point wakeAt = Clock::time_point::max();
      const dataserver::TableEvent* event = nullptr;
      Connection* connection = nextReady(&wakeAt, &event);
      if (connection == nullptr) {
        host.waitForWork(wakeAt);
        continue;
      }
      serveOneEvent(host, *connection, *event);
      if (connection->ended) {
        std::erase_if(connections_, [](const auto& c) { return c->ended; });
      }
    }
  } catch (const std::bad_alloc& e) {
    loseLink(host, e.what());
  }
  // After a lost link: each table asked for now gets the reason.
  while (!host.stopping()) {
    opened_.clear();
    closed_.clear();
    host.takeRequests(&opened_, &closed_);
    for (const ConnectionRequest& request : opened_) {
      host.deliver(request.conn, Notice::error(request.conn, kNotServing));
    }
    host.waitForWork(Clock::time_point::max());
  }
}

void EmbeddedServer::applyRequests(BackendHost& host) {
  opened_.clear();
  closed_.clear();
  host.takeRequests(&opened_, &closed_);
  if (!closed_.empty()) {
    std::erase_if(connections_, [&](const auto& c) {
      return std::find(closed_.begin(), closed_.end(), c->conn) != closed_.end();
    });
  }
  for (const ConnectionRequest& request : opened_) admit(host, request);
}

void EmbeddedServer::admit(BackendHost& host, const ConnectionRequest& request) {
  auto connection = std::make_unique<Connection>();
  connection->conn = request.conn;
  std::string err;
  if (!connection->stream.open(dataDir_, request.subscription, &err)) {
    host.deliver(request.conn, Notice::error(request.conn, err));
    return;
  }
  host.deliver(request.conn, Notice::conn(ZUQONL_CONNECTED, request.conn));
  host.deliver(request.conn, Notice::format(request.conn, connection->stream.columnCount(),
                                            request.subscription.columns));
  connection->reader = std::make_unique<TableReadAhead>(
      connection->stream, request.conn, [&host] { host.wake(); }, readAhead_);
  connections_.push_back(std::move(connection));
}

// The clock is read only while a connection waits out a pause: a table
// served row after row costs no clock read per row.
EmbeddedServer::Connection* EmbeddedServer::nextReady(Clock::time_point* wakeAt,
                                                      const dataserver::TableEvent** event) {
  std::optional<Clock::time_point> now;
  size_t count = connections_.size();
  for (size_t i = 0; i < count; ++i) {
    size_t index = (nextTurn_ + i) % count;
    Connection& connection = *connections_[index];
    if (connection.readyAt != Clock::time_point::min()) {
      if (!now) now = Clock::now();
      if (connection.readyAt > *now) {
        *wakeAt = std::min(*wakeAt, connection.readyAt);
        continue;
      }
      connection.readyAt = Clock::time_point::min();
      connection.reader->resume();
    }
    *event = connection.reader->next(&row_);
    if (*event == nullptr) continue;
    nextTurn_ = index + 1;
    return &connection;
  }
  return nullptr;
}

void EmbeddedServer::loseLink(BackendHost& host, const char* what) {
  std::vector<int32_t> open;
  for (const auto& connection : connections_) open.push_back(connection->conn);
  // The tables' memory goes first, so that what follows finds some.
  row_ = TableReadAhead::Row{};
  connections_.clear();
  processLog().write("[zuqonl] embedded data server: out of memory (" + std::string(what) +
                     "), link lost: no table is served until the library is opened again\n");
  for (const int32_t conn : open) host.deliver(conn, Notice::error(conn, kNotServing));
  host.deliver(0, Notice::bare(ZUQONL_NET_INTEGRITY_LOST));
  host.deliver(0, Notice::bare(ZUQONL_DS_DISCONNECTED));
}

void EmbeddedServer::serveOneEvent(BackendHost& host, Connection& connection,
                                   const dataserver::TableEvent& event) {
  if (event.kind == EventKind::Pause) {
    connection.readyAt = Clock::now() + std::chrono::milliseconds(std::max(event.number, 0));
  } else if (event.kind == EventKind::End) {
    connection.ended = true;
  } else if (row_.record != nullptr) {
    host.deliver(connection.conn, Notice::lent(rowCode(event.kind), row_.record, row_.bytes));
  } else {
    deliverTableEvent(host, connection.conn, event);
  }
}

}  // namespace zuqonl
