// The library's client of a network data server (zuqds, docs/protocol.md):
// one TCP link at a time, kept up for as long as the library is open.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "backend.h"
#include "settings.h"

namespace zuqonl {

class NetworkClient final : public Backend {
 public:
  // How long one connection attempt (name lookup and TCP connect) may take,
  // and how long a server may take to answer Hello with Welcome.
  static constexpr std::chrono::seconds kConnectTimeout{2};
  static constexpr std::chrono::seconds kWelcomeTimeout{10};

  // Connects to `address`, named `name` ("127.0.0.1:7415", as configured) in
  // notifications and log lines, pausing `reconnect` between attempts.
  NetworkClient(ServerAddress address, std::string name, std::chrono::milliseconds reconnect);
  ~NetworkClient() override;
  NetworkClient(const NetworkClient&) = delete;
  NetworkClient& operator=(const NetworkClient&) = delete;

  // Connects and keeps connecting until host.stopping(), whatever the
  // server does. Per link: NetIntegrityOk ("data server NAME") once TCP is
  // up, DsConnected at the server's Welcome; then every subscription the
  // program holds is sent (resumed when an earlier link carried it), and
  // its events become notifications as deliverTableEvent() makes them, with
  // Connected and Format at the first Subscribed. DsDown gives
  // DsDisconnected; a lost link gives NetIntegrityLost, then DsDisconnected
  // if the session was up, and a new attempt after the reconnect pause. A
  // malformed frame or a breach of the protocol is one "[zuqonl] " log line
  // and a lost link. The link is read only as fast as the program's
  // callback takes the notifications.
  void run(BackendHost& host) override;
  // Wakes run() from any thread.
  void interrupt() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace zuqonl
