#include "network_client.h"

#include <algorithm>
#include <asio.hpp>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "dataserver/log_text.h"
#include "dataserver/protocol.h"
#include "logging.h"
#include "platform/error_text.h"

namespace zuqonl {

namespace protocol = dataserver::protocol;
using asio::ip::tcp;
using dataserver::EventKind;

namespace {

constexpr size_t kReadBytes = 64 * 1024;
constexpr char kClientName[] = "zuqonl";

std::string messageName(const protocol::Message& message) {
  return protocol::messageName(static_cast<uint8_t>(protocol::messageType(message)));
}

}  // namespace

// Everything here runs on the notification thread inside run(), except
// interrupt(). Completion handlers run only inside run() too, and carry the
// epoch they were started in: every change of the link advances the epoch,
// so a handler of an earlier attempt or link does nothing.
struct NetworkClient::Impl {
  enum class LinkState {
    Waiting,     // the pause before the next attempt
    Connecting,  // name lookup and TCP connect, under kConnectTimeout
    Greeting,    // TCP up, Hello sent, Welcome awaited under kWelcomeTimeout
    Serving,     // the data session is up
  };

  // A subscription the program holds, under its connection handle (which is
  // also its subscription id on the wire).
  struct Held {
    dataserver::Subscription subscription;
    bool announced = false;      // Connected and Format have been delivered
    bool carriedBefore = false;  // an earlier link carried it: sent as a resume
    // On the current link:
    bool sent = false;
    bool confirmed = false;  // its Subscribed came
    bool ended = false;      // its End came; the server has forgotten it
    // Resumed on this link and no event of it has come yet: the Clear that
    // a server sends first is the one already reported.
    bool clearReported = false;
  };

  Impl(ServerAddress address, std::string name, std::chrono::milliseconds reconnect)
      : work_(io_.get_executor()),
        resolver_(io_),
        socket_(io_),
        timer_(io_),
        readBuffer_(kReadBytes),
        address_(std::move(address)),
        name_("data server " + name),
        reconnect_(reconnect) {}

  void run(BackendHost& host);

  // A completion handler that calls `body` unless its epoch has passed or
  // the library is stopping.
  template <class Body>
  auto guarded(Body body) {
    return [this, epoch = epoch_, body = std::move(body)](auto&&... args) {
      if (epoch == epoch_ && !host_->stopping()) body(std::forward<decltype(args)>(args)...);
    };
  }

  // Attempts and pauses.
  void connect();
  void connectTo(const std::vector<tcp::endpoint>& endpoints);
  void connectFailed(const std::string& why);
  void pauseBeforeNextAttempt();

  // The link.
  void linkUp();
  void read();
  void onRead(const asio::error_code& error, size_t size);
  void dropLink(const std::string& why);
  void endLink();

  // Messages from the server.
  void handle(const protocol::Message& message);
  void onWelcome(const protocol::Welcome& welcome);
  void onSubscribed(const protocol::Subscribed& subscribed);
  void onEvent(const protocol::Event& event);
  void onDsDown();
  void protocolError(const std::string& what);
  Held* activeSubscription(uint32_t subId);

  // Requests of the program and what goes to the server.
  void applyRequests();
  void admit(ConnectionRequest& request);
  void sendSubscribe(int32_t conn, Held& held);
  void queue(const protocol::Message& message);
  void flush();

  void log(const std::string& text) {
    processLog().write("[zuqonl] " + name_ + ": " + text + "\n");
  }

  // The I/O objects must go before the io_context: it comes first.
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;  // run_one() blocks
  tcp::resolver resolver_;
  tcp::socket socket_;
  asio::steady_timer timer_;  // the pause, or the deadline of an attempt or of Welcome
  std::vector<char> readBuffer_;

  const ServerAddress address_;
  const std::string name_;  // "data server HOST:PORT"
  const std::chrono::milliseconds reconnect_;
  BackendHost* host_ = nullptr;  // set by run()
  LinkState state_ = LinkState::Waiting;
  uint64_t epoch_ = 0;
  bool sessionUp_ = false;                    // Welcome came on this link and no DsDown since
  bool failureLogged_ = false;                // this series of failed attempts has been logged
  std::map<int32_t, Held> held_;              // in the order the program opened them
  std::optional<protocol::Decoder> decoder_;  // one per link
  protocol::Message message_;                 // reused, so that rows keep their capacity
  // The values of the last Event decoded, as views into the decoder's buffer:
  // each is copied once, into the notification.
  std::vector<std::string_view> rowValues_;
  std::string queued_;   // frames for the next write
  std::string sending_;  // the frames of the write in flight
  bool writing_ = false;
  std::vector<ConnectionRequest> opened_;  // reused between applyRequests calls
  std::vector<int32_t> closed_;
};

void NetworkClient::Impl::run(BackendHost& host) {
  host_ = &host;
  connect();
  while (!host.stopping()) {
    applyRequests();
    if (host.stopping()) break;
    if (io_.poll_one() == 0) {
      processLog().flush();  // the log is flushed before blocking, as in waitForWork
      io_.run_one();         // until a completion or interrupt()
    }
  }
  endLink();
}

// ---- Attempts and pauses ----

void NetworkClient::Impl::connect() {
  state_ = LinkState::Connecting;
  ++epoch_;
  timer_.expires_after(kConnectTimeout);
  timer_.async_wait(guarded([this](const asio::error_code& error) {
    if (!error) connectFailed("no answer within " + std::to_string(kConnectTimeout.count()) + " s");
  }));
  asio::error_code error;
  const asio::ip::address numeric = asio::ip::make_address(address_.host, error);
  if (!error) return connectTo({tcp::endpoint(numeric, address_.port)});
  resolver_.async_resolve(
      address_.host, std::to_string(address_.port), tcp::resolver::numeric_service,
      guarded([this](const asio::error_code& failure, const tcp::resolver::results_type& found) {
        if (failure) {
          return connectFailed("cannot resolve '" + address_.host +
                               "': " + platform::errorText(failure));
        }
        std::vector<tcp::endpoint> endpoints;
        for (const auto& entry : found) endpoints.push_back(entry.endpoint());
        connectTo(endpoints);
      }));
}

void NetworkClient::Impl::connectTo(const std::vector<tcp::endpoint>& endpoints) {
  asio::async_connect(socket_, endpoints,
                      guarded([this](const asio::error_code& error, const tcp::endpoint&) {
                        if (error) return connectFailed(platform::errorText(error));
                        linkUp();
                      }));
}

// One log line per series of failed attempts: a server that is down for an
// hour does not fill the log.
void NetworkClient::Impl::connectFailed(const std::string& why) {
  if (!failureLogged_) {
    failureLogged_ = true;
    log("cannot connect: " + why + "; retrying every " + std::to_string(reconnect_.count()) +
        " ms");
  }
  endLink();
  pauseBeforeNextAttempt();
}

void NetworkClient::Impl::pauseBeforeNextAttempt() {
  state_ = LinkState::Waiting;
  ++epoch_;
  timer_.expires_after(reconnect_);
  timer_.async_wait(guarded([this](const asio::error_code& error) {
    if (!error) connect();
  }));
}

// ---- The link ----

void NetworkClient::Impl::linkUp() {
  state_ = LinkState::Greeting;
  ++epoch_;
  failureLogged_ = false;
  asio::error_code ignored;
  socket_.set_option(tcp::no_delay(true), ignored);
  socket_.set_option(asio::socket_base::keep_alive(true), ignored);
  decoder_.emplace(protocol::Sender::Server);
  timer_.expires_after(kWelcomeTimeout);
  timer_.async_wait(guarded([this](const asio::error_code& error) {
    if (!error && state_ == LinkState::Greeting) {
      dropLink("no Welcome within " + std::to_string(kWelcomeTimeout.count()) + " s, link closed");
    }
  }));
  host_->deliver(0, Notice::text(ZUQONL_NET_INTEGRITY_OK, name_));
  queue(protocol::Hello{protocol::kVersion, kClientName});
  flush();
  read();
}

void NetworkClient::Impl::read() {
  socket_.async_read_some(
      asio::buffer(readBuffer_),
      guarded([this](const asio::error_code& error, size_t size) { onRead(error, size); }));
}

// Decodes and delivers everything this read brought before reading again,
// so the server is read only as fast as the program takes notifications.
void NetworkClient::Impl::onRead(const asio::error_code& error, size_t size) {
  if (error == asio::error::eof) return dropLink("link closed by the server");
  if (error) return dropLink("link lost: " + platform::errorText(error));
  decoder_->feed(readBuffer_.data(), size);
  const uint64_t link = epoch_;
  std::string fault;
  for (;;) {
    const protocol::Decoder::Result result = decoder_->next(&message_, &rowValues_, &fault);
    if (result == protocol::Decoder::Result::NeedMore) break;
    if (result == protocol::Decoder::Result::Fault) {
      return dropLink("malformed frame: " + fault + ", link closed");
    }
    handle(message_);
    if (epoch_ != link || host_->stopping()) return;
  }
  read();
}

// Logs `why`, closes the link, reports it lost (and the data session with
// it) and pauses before the next attempt.
void NetworkClient::Impl::dropLink(const std::string& why) {
  log(why);
  const bool sessionWasUp = sessionUp_;
  endLink();
  host_->deliver(0, Notice::bare(ZUQONL_NET_INTEGRITY_LOST));
  if (sessionWasUp) host_->deliver(0, Notice::bare(ZUQONL_DS_DISCONNECTED));
  pauseBeforeNextAttempt();
}

// Closes whatever is open, quietly. The server forgets a link's
// subscriptions with it; the program keeps them, for the next link.
void NetworkClient::Impl::endLink() {
  ++epoch_;
  asio::error_code ignored;
  resolver_.cancel();
  socket_.close(ignored);
  timer_.cancel();
  decoder_.reset();
  queued_.clear();
  writing_ = false;
  sessionUp_ = false;
  for (auto& [conn, held] : held_) {
    held.carriedBefore = held.carriedBefore || held.sent;
    held.sent = held.confirmed = held.ended = held.clearReported = false;
  }
}

// ---- Messages from the server ----

void NetworkClient::Impl::handle(const protocol::Message& message) {
  if (const auto* goodbye = std::get_if<protocol::Goodbye>(&message)) {
    return dropLink("the server ended the link: " + dataserver::quotedForLog(goodbye->reason));
  }
  const auto* welcome = std::get_if<protocol::Welcome>(&message);
  if (state_ == LinkState::Greeting) {
    if (welcome != nullptr) return onWelcome(*welcome);
    return protocolError(messageName(message) + " before Welcome");
  }
  if (welcome != nullptr) return protocolError("second Welcome");
  if (const auto* subscribed = std::get_if<protocol::Subscribed>(&message)) {
    return onSubscribed(*subscribed);
  }
  if (const auto* event = std::get_if<protocol::Event>(&message)) return onEvent(*event);
  if (std::holds_alternative<protocol::DsDown>(message)) return onDsDown();
  // A Pong answers no Ping of ours; it does no harm.
}

void NetworkClient::Impl::onWelcome(const protocol::Welcome& welcome) {
  if (welcome.version != protocol::kVersion) {
    return protocolError("protocol version " + std::to_string(welcome.version) +
                         " is not supported (this library speaks " +
                         std::to_string(protocol::kVersion) + ")");
  }
  state_ = LinkState::Serving;
  timer_.cancel();
  sessionUp_ = true;
  host_->deliver(0, Notice::bare(ZUQONL_DS_CONNECTED));
  for (auto& [conn, held] : held_) sendSubscribe(conn, held);
  flush();
}

void NetworkClient::Impl::onSubscribed(const protocol::Subscribed& subscribed) {
  Held* held = activeSubscription(subscribed.subId);
  if (held == nullptr) return;  // closed by the program meanwhile
  if (held->confirmed) {
    return protocolError("second Subscribed for subscription " + std::to_string(subscribed.subId));
  }
  held->confirmed = true;
  const auto conn = static_cast<int32_t>(subscribed.subId);
  if (held->announced) {
    // A resumed subscription: its table comes again from its start. The
    // rows of the earlier delivery are void, whether or not the server
    // says so with a Clear of its own, so the Clear is reported here.
    host_->deliver(conn, Notice::conn(ZUQONL_CLEAR, conn));
    held->clearReported = true;
    return;
  }
  held->announced = true;
  const auto count = static_cast<int32_t>(std::min<uint32_t>(subscribed.columnCount, INT32_MAX));
  host_->deliver(conn, Notice::conn(ZUQONL_CONNECTED, conn));
  host_->deliver(conn, Notice::format(conn, count, held->subscription.columns));
}

void NetworkClient::Impl::onEvent(const protocol::Event& event) {
  Held* held = activeSubscription(event.subId);
  if (held == nullptr) return;  // closed by the program meanwhile
  const EventKind kind = event.event.kind;
  if (kind == EventKind::End) {
    held->ended = true;
    return;
  }
  // A table that cannot be opened gets its Error without a Subscribed.
  if (!held->confirmed && kind != EventKind::Error) {
    return protocolError("Event before Subscribed for subscription " + std::to_string(event.subId));
  }
  if (std::exchange(held->clearReported, false) && kind == EventKind::Clear) return;
  deliverTableEvent(*host_, static_cast<int32_t>(event.subId), event.event, &rowValues_);
}

// The server closes the link after DsDown; nothing more is expected on it.
void NetworkClient::Impl::onDsDown() {
  const bool sessionWasUp = sessionUp_;
  sessionUp_ = false;
  if (sessionWasUp) host_->deliver(0, Notice::bare(ZUQONL_DS_DISCONNECTED));
  dropLink("data session down, link closed");
}

void NetworkClient::Impl::protocolError(const std::string& what) {
  dropLink("protocol error: " + what + ", link closed");
}

// The subscription `subId` names when it is open on this link; null for
// one the program closed, one that ended, or an id never sent.
NetworkClient::Impl::Held* NetworkClient::Impl::activeSubscription(uint32_t subId) {
  if (subId == 0 || subId > static_cast<uint32_t>(INT32_MAX)) return nullptr;
  const auto found = held_.find(static_cast<int32_t>(subId));
  if (found == held_.end() || !found->second.sent || found->second.ended) return nullptr;
  return &found->second;
}

// ---- Requests of the program ----

void NetworkClient::Impl::applyRequests() {
  opened_.clear();
  closed_.clear();
  host_->takeRequests(&opened_, &closed_);
  for (int32_t conn : closed_) {
    const auto found = held_.find(conn);
    if (found == held_.end()) continue;
    if (found->second.sent && !found->second.ended) {
      queue(protocol::Unsubscribe{static_cast<uint32_t>(conn)});
    }
    held_.erase(found);
  }
  for (ConnectionRequest& request : opened_) admit(request);
  flush();
}

// A subscription too large for the protocol is an Error at once, and is not
// held: it could never be sent.
void NetworkClient::Impl::admit(ConnectionRequest& request) {
  const protocol::Subscribe probe{static_cast<uint32_t>(request.conn), true, request.subscription};
  std::string frame, err;
  if (!protocol::encode(probe, &frame, &err)) {
    host_->deliver(request.conn,
                   Notice::error(request.conn, "subscription cannot be sent: " + err));
    return;
  }
  Held& held = held_[request.conn];
  held.subscription = std::move(request.subscription);
  if (state_ == LinkState::Serving) sendSubscribe(request.conn, held);
}

void NetworkClient::Impl::sendSubscribe(int32_t conn, Held& held) {
  queue(protocol::Subscribe{static_cast<uint32_t>(conn), held.carriedBefore, held.subscription});
  held.sent = true;
}

void NetworkClient::Impl::queue(const protocol::Message& message) {
  std::string err;
  // What is queued was checked on admission; a failure is a bug to see.
  if (!protocol::encode(message, &queued_, &err)) log("cannot send: " + err);
}

void NetworkClient::Impl::flush() {
  const bool linked = state_ == LinkState::Greeting || state_ == LinkState::Serving;
  if (writing_ || queued_.empty() || !linked) return;
  sending_.swap(queued_);
  queued_.clear();
  writing_ = true;
  asio::async_write(socket_, asio::buffer(sending_),
                    guarded([this](const asio::error_code& error, size_t) {
                      writing_ = false;
                      if (error) return dropLink("link lost: " + platform::errorText(error));
                      flush();
                    }));
}

// ---- NetworkClient ----

NetworkClient::NetworkClient(ServerAddress address, std::string name,
                             std::chrono::milliseconds reconnect)
    : impl_(std::make_unique<Impl>(std::move(address), std::move(name), reconnect)) {}

NetworkClient::~NetworkClient() = default;

void NetworkClient::run(BackendHost& host) { impl_->run(host); }

void NetworkClient::interrupt() {
  asio::post(impl_->io_, [] {});
}

}  // namespace zuqonl
