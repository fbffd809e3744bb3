// The listening side of zuqds: accepts clients and keeps the list of the
// sessions alive, refusing clients beyond the limit.
//
// Threads: one io_context, run by one thread; every call is made on it.
#pragma once

#include <asio.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "zuqds/options.h"
#include "zuqds/session.h"

namespace zuqds {

class Server {
 public:
  // Serves the table files in `dataDir`. `io` outlives the server, and the
  // server outlives every handler it or its sessions have pending (run `io`
  // until it returns before destroying the server).
  Server(asio::io_context& io, std::string dataDir, Limits limits);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Opens the listening socket on `host`:`port` (port 0: a free one) and
  // begins accepting. False with a finished message in *err.
  bool listen(const std::string& host, uint16_t port, std::string* err);

  // The address listened on, "127.0.0.1:7415" or "[::1]:7415", with the real port.
  std::string endpoint() const;

  // Stops accepting and closes every session; once their handlers have
  // run, the io_context runs out of work.
  void stop();

 private:
  void accept();
  void onAccept(const asio::error_code& error, asio::ip::tcp::socket socket);
  void refuse(asio::ip::tcp::socket& socket, uint64_t id, const std::string& peer);

  asio::ip::tcp::acceptor acceptor_;
  asio::steady_timer retryTimer_;  // waits out a failing accept (e.g. no file handles left)
  const Limits limits_;
  std::shared_ptr<SessionConfig> config_;
  std::map<uint64_t, std::weak_ptr<Session>> sessions_;  // the open ones, by id
  uint64_t nextId_ = 1;
  bool stopped_ = false;
};

// "127.0.0.1:7415" or "[::1]:7415".
std::string endpointText(const asio::ip::tcp::endpoint& endpoint);

}  // namespace zuqds
