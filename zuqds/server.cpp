#include "zuqds/server.h"

#include <utility>
#include <vector>

#include "dataserver/protocol.h"
#include "platform/error_text.h"
#include "zuqds/log.h"

namespace zuqds {

using asio::ip::tcp;

std::string endpointText(const tcp::endpoint& endpoint) {
  const std::string address = endpoint.address().to_string();
  const std::string port = std::to_string(endpoint.port());
  return endpoint.address().is_v6() ? "[" + address + "]:" + port : address + ":" + port;
}

Server::Server(asio::io_context& io, std::string dataDir, Limits limits)
    : acceptor_(io), retryTimer_(io), limits_(limits), config_(std::make_shared<SessionConfig>()) {
  config_->dataDir = std::move(dataDir);
  config_->maxSubscriptions = limits.maxSubscriptions;
  config_->idleTimeout = limits.idleTimeout;
  config_->dsDowns = std::make_shared<DsDownMemory>();
  config_->onClosed = [this](uint64_t id) { sessions_.erase(id); };
}

bool Server::listen(const std::string& host, uint16_t port, std::string* err) {
  asio::error_code error;
  const asio::ip::address address = asio::ip::make_address(host, error);
  const tcp::endpoint endpoint(address, port);
  if (!error) acceptor_.open(endpoint.protocol(), error);
  if (!error) acceptor_.set_option(tcp::acceptor::reuse_address(true), error);
  if (!error) acceptor_.bind(endpoint, error);
  if (!error) acceptor_.listen(asio::socket_base::max_listen_connections, error);
  if (error) {
    *err =
        "cannot listen on " + host + ":" + std::to_string(port) + ": " + platform::errorText(error);
    return false;
  }
  accept();
  return true;
}

std::string Server::endpoint() const {
  asio::error_code ignored;
  return endpointText(acceptor_.local_endpoint(ignored));
}

void Server::stop() {
  stopped_ = true;
  asio::error_code ignored;
  acceptor_.close(ignored);
  retryTimer_.cancel();
  // Closing a session takes it off the list; close a copy.
  std::vector<std::shared_ptr<Session>> open;
  for (const auto& [id, session] : sessions_) {
    if (auto alive = session.lock()) open.push_back(std::move(alive));
  }
  for (const auto& session : open) session->close("server stopping");
  sessions_.clear();
}

void Server::accept() {
  acceptor_.async_accept([this](const asio::error_code& error, tcp::socket socket) {
    onAccept(error, std::move(socket));
  });
}

void Server::onAccept(const asio::error_code& error, tcp::socket socket) {
  if (stopped_ || error == asio::error::operation_aborted) return;
  if (error) {
    logLine("accept failed: " + platform::errorText(error));
    retryTimer_.expires_after(std::chrono::milliseconds(100));
    retryTimer_.async_wait([this](const asio::error_code& e) {
      if (!e && !stopped_) accept();
    });
    return;
  }
  asio::error_code ignored;
  const std::string peer = endpointText(socket.remote_endpoint(ignored));
  const uint64_t id = nextId_++;
  if (sessions_.size() >= limits_.maxClients) {
    refuse(socket, id, peer);
  } else {
    auto session = std::make_shared<Session>(std::move(socket), id, peer, config_);
    sessions_.emplace(id, session);
    session->start();
  }
  accept();
}

// A refused client gets a Goodbye if its socket takes it at once, then the
// close; nothing of it is kept.
void Server::refuse(tcp::socket& socket, uint64_t id, const std::string& peer) {
  const std::string reason = "server full (" + std::to_string(limits_.maxClients) + " clients)";
  std::string frame, err;
  dataserver::protocol::encode(dataserver::protocol::Goodbye{reason}, &frame, &err);
  asio::error_code ignored;
  socket.non_blocking(true, ignored);
  socket.write_some(asio::buffer(frame), ignored);
  socket.shutdown(tcp::socket::shutdown_send, ignored);
  socket.close(ignored);
  logLine("client " + std::to_string(id) + " (" + peer + ") refused: " + reason);
}

}  // namespace zuqds
