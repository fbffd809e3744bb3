// One client of zuqds: reads its requests and streams the tables it
// subscribes to, each subscription from its own TableStream, round-robin.
//
// Threads: everything runs on the server's one io_context thread; a session
// is kept alive by the handlers it has pending and ends when the last ends.
// Memory: the session encodes the next event only while fewer than
// kOutgoingBound bytes wait to be sent, and reads the next request only then
// too, so a client that stops reading costs at most about twice that bound
// plus one frame and one read buffer, and holds up no one else. A client
// that takes none of its output for the idle timeout is dropped, so that
// clients that subscribe and never read cannot hold every place.
// Log: a client's request lines are limited to kRequestLinesPerSecond; the
// lines beyond are counted and their number logged once the second is over,
// and a client whose requests fail kMaxFailedRequests times is dropped.
#pragma once

#include <array>
#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dataserver/protocol.h"
#include "dataserver/table_stream.h"

namespace zuqds {

inline constexpr size_t kOutgoingBound = 256 * 1024;
inline constexpr size_t kReadBytes = 64 * 1024;
// Events encoded for one client before the others get their turn, so that
// a table of lines that send nothing still yields the thread.
inline constexpr int kEventsPerTurn = 512;
inline constexpr std::chrono::seconds kHelloTimeout{10};
// How long a link that is being ended may take to take its last bytes.
inline constexpr std::chrono::seconds kLingerTimeout{5};
inline constexpr int kRequestLinesPerSecond = 20;
// Subscribes whose table cannot be opened, Unsubscribes of ids not open.
inline constexpr int kMaxFailedRequests = 100;

// How many `ds_down` lines of a subscription have ended a client's links,
// so that the client, subscribing again with resume after its reconnect,
// gets the table anew without being dropped at those lines again: each line
// drops each client once. A client's subscription is known by the client's
// address and name and the subscription's id and table; the name and the
// table are kept as hashes, so that an entry is small whatever a client
// sends. Bounded: when kMaxEntries are known, all is forgotten (those
// clients are dropped again). Used on the server's thread only.
class DsDownMemory {
 public:
  static constexpr size_t kMaxEntries = 4096;

  // At most kMaxKeyBytes, whatever the lengths of the texts.
  static constexpr size_t kMaxKeyBytes = 96;
  static std::string key(const std::string& address, std::string_view clientName, uint32_t subId,
                         std::string_view table);
  // The ds_down lines that have dropped `key` so far (0 when unknown).
  int dropped(const std::string& key) const;
  void record(const std::string& key, int count);
  void forget(const std::string& key) { counts_.erase(key); }

 private:
  std::map<std::string, int> counts_;
};

// What every session of a server shares; outlives them all.
struct SessionConfig {
  std::string dataDir;
  size_t maxSubscriptions = 0;
  std::chrono::milliseconds idleTimeout{0};  // see Limits::idleTimeout
  std::shared_ptr<DsDownMemory> dsDowns;     // never null
  // Called once per session, when its socket is closed, with its id.
  std::function<void(uint64_t id)> onClosed;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  // `peer` names the client's address in log lines.
  Session(asio::ip::tcp::socket socket, uint64_t id, std::string peer,
          std::shared_ptr<const SessionConfig> config);
  ~Session();

  // Logs the connection and waits for the client's Hello.
  void start();

  // Ends the session at once, logging "<client> disconnected: <reason>".
  void close(const std::string& reason);

 private:
  struct Stream;
  enum class State {
    Greeting,   // waiting for Hello
    Serving,    // reading requests and streaming tables
    Finishing,  // sending what is queued, then closing; input is discarded
    Closed,
  };

  void read();
  void onRead(const asio::error_code& error, size_t size);
  void decodeRequests();
  void handle(const dataserver::protocol::Message& message);
  void onHello(const dataserver::protocol::Hello& hello);
  void onSubscribe(const dataserver::protocol::Subscribe& subscribe);
  void onUnsubscribe(uint32_t subId);
  void watchIdle();

  void pump();
  Stream* nextReady();
  void serve(Stream& stream);
  void pause(Stream& stream, int32_t ms);
  // A pause's timer ran out: the stream of that `serial`, if it is still
  // subscribed (an unsubscribed one's serial is never given again), is
  // served again.
  void wakeFromPause(uint64_t serial);
  void postPump();
  void queueFailure(uint32_t subId, const std::string& text);
  void queueEvent(Stream& stream, const dataserver::TableEvent& event);
  void queue(const dataserver::protocol::Message& message);

  void flush();
  void writeSome();
  void onWritten(const asio::error_code& error);

  void fail(const std::string& fault);
  void finish(const std::string& logTail);
  void closeNow(const std::string& logTail);
  // The session's one closing line, "client N (peer) TAIL", after the
  // count of suppressed request lines; later calls log nothing.
  void logSessionEnd(const std::string& tail);
  void logRequest(const std::string& line);
  void logSuppressed();
  bool requestFailed();
  void watchOutput();
  std::string name() const;

  asio::ip::tcp::socket socket_;
  const uint64_t id_;
  const std::string peer_;
  std::string clientName_;  // a hash of the name from Hello, as the DsDown key takes it
  const std::shared_ptr<const SessionConfig> config_;
  State state_ = State::Greeting;
  bool reading_ = false;  // a read is in flight
  bool pumpPosted_ = false;
  bool writing_ = false;  // sending_ is in flight
  bool endLogged_ = false;
  std::array<char, kReadBytes> readBuffer_;
  dataserver::protocol::Decoder decoder_{dataserver::protocol::Sender::Client};
  dataserver::protocol::Message request_;
  std::string sending_;  // the bytes of the write in flight
  size_t sent_ = 0;      // of sending_, taken by the socket so far
  std::string queued_;   // bytes for the next write
  std::vector<std::unique_ptr<Stream>> streams_;
  size_t turn_ = 0;  // where nextReady() starts looking
  uint64_t nextSerial_ = 1;
  dataserver::TableEvent event_;             // reused, so that its strings keep their capacity
  std::vector<std::string_view> rowValues_;  // the values of a row in event_
  asio::steady_timer helloTimer_;
  asio::steady_timer idleTimer_;  // runs while no subscription is open
  uint64_t idleSerial_ = 0;       // of the idle wait in force; 0: none
  asio::steady_timer lingerTimer_;
  asio::steady_timer outputTimer_;  // runs while output waits for the client to read it
  uint64_t outputSerial_ = 0;       // of the output wait in force
  std::chrono::steady_clock::time_point logWindow_{};  // start of the second counted
  int logWindowLines_ = 0;
  uint64_t linesSuppressed_ = 0;
  int failedRequests_ = 0;
};

}  // namespace zuqds
