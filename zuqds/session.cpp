#include "zuqds/session.h"

#include <algorithm>
#include <utility>

#include "dataserver/log_text.h"
#include "platform/error_text.h"
#include "zuqds/log.h"

namespace zuqds {

namespace protocol = dataserver::protocol;
using dataserver::EventKind;
using dataserver::TableEvent;

namespace {

std::string rowRefused(int32_t rowId, const std::string& why) {
  return "row " + std::to_string(rowId) + " cannot be sent: " + why;
}

// 64-bit FNV-1a of `text`, in hex: a short stand-in for a text of any length.
std::string hashText(std::string_view text) {
  uint64_t hash = 14695981039346656037ull;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  const char digits[] = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) out[i] = digits[hash & 15];
  return out;
}

}  // namespace

std::string DsDownMemory::key(const std::string& address, std::string_view clientName,
                              uint32_t subId, std::string_view table) {
  // An address is at most 45 bytes ("[ffff:...]" without brackets).
  std::string key = address.substr(0, 46);
  for (std::string_view part : {clientName, table}) (key += '\0') += hashText(part);
  return key + '\0' + std::to_string(subId);
}

int DsDownMemory::dropped(const std::string& key) const {
  const auto it = counts_.find(key);
  return it == counts_.end() ? 0 : it->second;
}

void DsDownMemory::record(const std::string& key, int count) {
  if (counts_.size() >= kMaxEntries && counts_.count(key) == 0) counts_.clear();
  counts_[key] = count;
}

struct Session::Stream {
  explicit Stream(const asio::any_io_executor& executor) : timer(executor) {}

  uint32_t subId = 0;
  uint64_t serial = 0;  // tells a pause's wake-up whether this is still its stream
  std::string table;
  std::string dsDownKey;  // in the server's DsDownMemory
  int dsDownsToPass = 0;  // ds_down lines that have dropped this client already
  int dsDownsSeen = 0;
  dataserver::TableStream events;
  asio::steady_timer timer;  // runs while the table pauses
  bool paused = false;
  bool ended = false;  // its End is queued; removed at the end of the turn
};

Session::Session(asio::ip::tcp::socket socket, uint64_t id, std::string peer,
                 std::shared_ptr<const SessionConfig> config)
    : socket_(std::move(socket)),
      id_(id),
      peer_(std::move(peer)),
      config_(std::move(config)),
      helloTimer_(socket_.get_executor()),
      idleTimer_(socket_.get_executor()),
      lingerTimer_(socket_.get_executor()),
      outputTimer_(socket_.get_executor()) {}

Session::~Session() = default;

void Session::start() {
  logLine(name() + " connected from " + peer_);
  helloTimer_.expires_after(kHelloTimeout);
  helloTimer_.async_wait([self = shared_from_this()](const asio::error_code& error) {
    if (!error && self->state_ == State::Greeting) {
      self->fail("no Hello within " + std::to_string(kHelloTimeout.count()) + " s");
    }
  });
  read();
}

void Session::close(const std::string& reason) { closeNow("disconnected: " + reason); }

// ---- Requests ----

void Session::read() {
  if (reading_ || state_ == State::Closed) return;
  // A client that sends requests without reading the answers waits too.
  if (state_ != State::Finishing && queued_.size() >= kOutgoingBound) return;
  reading_ = true;
  socket_.async_read_some(asio::buffer(readBuffer_),
                          [self = shared_from_this()](const asio::error_code& error, size_t size) {
                            self->onRead(error, size);
                          });
}

void Session::onRead(const asio::error_code& error, size_t size) {
  reading_ = false;
  if (state_ == State::Closed) return;
  if (error) {
    closeNow(error == asio::error::eof
                 ? "disconnected"
                 : "disconnected: read failed: " + platform::errorText(error));
    return;
  }
  if (state_ != State::Finishing) {
    decoder_.feed(readBuffer_.data(), size);
    decodeRequests();
  }
  read();
}

void Session::decodeRequests() {
  std::string fault;
  while (state_ == State::Greeting || state_ == State::Serving) {
    switch (decoder_.next(&request_, &fault)) {
      case protocol::Decoder::Result::Message:
        handle(request_);
        break;
      case protocol::Decoder::Result::NeedMore:
        pump();
        return;
      case protocol::Decoder::Result::Fault:
        fail("protocol error: " + fault);
        return;
    }
  }
}

void Session::handle(const protocol::Message& message) {
  if (const auto* hello = std::get_if<protocol::Hello>(&message)) {
    if (state_ == State::Greeting) return onHello(*hello);
    return fail("protocol error: second Hello");
  }
  if (state_ == State::Greeting) {
    return fail("protocol error: " +
                protocol::messageName(static_cast<uint8_t>(protocol::messageType(message))) +
                " before Hello");
  }
  if (const auto* subscribe = std::get_if<protocol::Subscribe>(&message)) {
    return onSubscribe(*subscribe);
  }
  if (const auto* unsubscribe = std::get_if<protocol::Unsubscribe>(&message)) {
    return onUnsubscribe(unsubscribe->subId);
  }
  if (const auto* ping = std::get_if<protocol::Ping>(&message)) {
    return queue(protocol::Pong{ping->token});
  }
}

void Session::onHello(const protocol::Hello& hello) {
  if (hello.version != protocol::kVersion) {
    return fail("protocol error: protocol version " + std::to_string(hello.version) +
                " is not supported (this server speaks " + std::to_string(protocol::kVersion) +
                ")");
  }
  helloTimer_.cancel();
  state_ = State::Serving;
  clientName_ = hashText(hello.clientName);
  logLine(name() + " is " + dataserver::quotedForLog(hello.clientName) + ", protocol " +
          std::to_string(hello.version));
  queue(protocol::Welcome{protocol::kVersion, "zuqds"});
  watchIdle();
}

void Session::onSubscribe(const protocol::Subscribe& subscribe) {
  const uint32_t subId = subscribe.subId;
  auto sameId = [subId](const auto& stream) { return stream->subId == subId; };
  if (std::any_of(streams_.begin(), streams_.end(), sameId)) {
    return fail("protocol error: subscription id " + std::to_string(subId) + " is already in use");
  }
  // Each subscription holds its table file open: the limit keeps the files
  // of all clients within what the server may open.
  if (streams_.size() >= config_->maxSubscriptions) {
    const std::string reason =
        "more than " + std::to_string(config_->maxSubscriptions) + " subscriptions";
    queue(protocol::Goodbye{reason});
    return finish("dropped: " + reason);
  }
  const dataserver::Subscription& sub = subscribe.subscription;
  auto stream = std::make_unique<Stream>(socket_.get_executor());
  std::string err;
  const bool opened = stream->events.open(config_->dataDir, sub, &err);
  logRequest(name() + " subscribes #" + std::to_string(subId) + " to " +
             dataserver::quotedForLog(sub.table) + " columns " +
             dataserver::quotedForLog(sub.columns) + " key " +
             dataserver::quotedForLog(sub.keyColumn) + " from " +
             dataserver::quotedForLog(sub.from) + " to " + dataserver::quotedForLog(sub.to) +
             (subscribe.resume ? ", resuming" : "") +
             (opened ? "" : ": " + dataserver::escapedForLog(err)));
  if (!opened) {
    queueFailure(subId, err);
    requestFailed();
    return;
  }
  // A row too large for a frame is refused before it is built; its Error
  // then ends the subscription.
  stream->events.checkRows([this, subId, table = sub.table](int32_t rowId, size_t valueCount,
                                                            size_t valueBytes, std::string* fault) {
    std::string why;
    if (protocol::checkRowEvent(valueCount, valueBytes, &why)) return true;
    *fault = rowRefused(rowId, why);
    logRequest(name() + " #" + std::to_string(subId) + " " + dataserver::quotedForLog(table) +
               ": " + *fault);
    return false;
  });
  queue(protocol::Subscribed{subId, static_cast<uint32_t>(stream->events.columnCount())});
  // A client that held the subscription before gets the table anew.
  if (subscribe.resume) queue(protocol::Event{subId, TableEvent{EventKind::Clear, 0, {}, "", 0}});
  stream->subId = subId;
  stream->serial = nextSerial_++;
  stream->table = sub.table;
  asio::error_code ignored;
  stream->dsDownKey = DsDownMemory::key(socket_.remote_endpoint(ignored).address().to_string(),
                                        clientName_, subId, sub.table);
  if (subscribe.resume) {
    stream->dsDownsToPass = config_->dsDowns->dropped(stream->dsDownKey);
  } else {
    config_->dsDowns->forget(stream->dsDownKey);
  }
  streams_.push_back(std::move(stream));
  watchIdle();
}

void Session::onUnsubscribe(uint32_t subId) {
  const size_t removed =
      std::erase_if(streams_, [subId](const auto& stream) { return stream->subId == subId; });
  logRequest(name() + " unsubscribes #" + std::to_string(subId) + (removed ? "" : " (not open)"));
  if (removed == 0 && requestFailed()) return;
  watchIdle();
}

// Counts a failed request; true when that was one too many and the client
// is being dropped. A client that only sends failing requests would
// otherwise cost a log line each for as long as it likes.
bool Session::requestFailed() {
  if (++failedRequests_ < kMaxFailedRequests) return false;
  fail("too many failed requests (" + std::to_string(kMaxFailedRequests) + ")");
  return true;
}

// A client's own lines, at most kRequestLinesPerSecond a second; the rest
// are counted and their number logged when the second is over (with the
// client's next line, or at its end).
void Session::logRequest(const std::string& line) {
  const auto now = std::chrono::steady_clock::now();
  if (now - logWindow_ >= std::chrono::seconds(1)) {
    logSuppressed();
    logWindow_ = now;
    logWindowLines_ = 0;
  }
  if (logWindowLines_ < kRequestLinesPerSecond) {
    ++logWindowLines_;
    logLine(line);
  } else {
    ++linesSuppressed_;
  }
}

void Session::logSuppressed() {
  if (linesSuppressed_ == 0) return;
  logLine(name() + ": " + std::to_string(linesSuppressed_) +
          " more lines of this client not logged (at most " +
          std::to_string(kRequestLinesPerSecond) + " a second)");
  linesSuppressed_ = 0;
}

// Starts the idle wait when the last subscription has gone and stops it when
// one is open. A subscription that could not be opened leaves a running wait
// as it is, so failing Subscribes do not keep a client.
void Session::watchIdle() {
  if (state_ != State::Serving) return;
  if (!streams_.empty()) {
    if (idleSerial_ != 0) idleTimer_.cancel();
    idleSerial_ = 0;
    return;
  }
  if (idleSerial_ != 0) return;
  idleSerial_ = nextSerial_++;
  idleTimer_.expires_after(config_->idleTimeout);
  idleTimer_.async_wait([self = shared_from_this(),
                         serial = idleSerial_](const asio::error_code& error) {
    if (error || self->idleSerial_ != serial || self->state_ != State::Serving) return;
    self->fail("no subscription for " + std::to_string(self->config_->idleTimeout.count()) + " ms");
  });
}

// ---- Streaming ----

void Session::pump() {
  if (state_ != State::Serving) return;
  for (int served = 0; queued_.size() < kOutgoingBound; ++served) {
    if (served == kEventsPerTurn) {
      postPump();
      break;
    }
    Stream* stream = nextReady();
    if (stream == nullptr) break;
    serve(*stream);
    if (state_ != State::Serving) return;
    if (event_.kind == EventKind::Pause && event_.number == 0) {
      // A long scan past rows outside the key range: let other clients in.
      postPump();
      break;
    }
  }
  std::erase_if(streams_, [](const auto& stream) { return stream->ended; });
  watchIdle();
  flush();
}

void Session::postPump() {
  if (pumpPosted_) return;
  pumpPosted_ = true;
  asio::post(socket_.get_executor(), [self = shared_from_this()] {
    self->pumpPosted_ = false;
    self->pump();
  });
}

Session::Stream* Session::nextReady() {
  const size_t count = streams_.size();
  for (size_t i = 0; i < count; ++i) {
    const size_t index = (turn_ + i) % count;
    Stream& stream = *streams_[index];
    if (!stream.paused && !stream.ended) {
      turn_ = index + 1;
      return &stream;
    }
  }
  return nullptr;
}

void Session::serve(Stream& stream) {
  // A row's values stay views into the table's read buffer until encoded.
  stream.events.next(&event_, &rowValues_);
  switch (event_.kind) {
    case EventKind::Pause:
      return pause(stream, event_.number);
    case EventKind::DsUp:
      return;  // the data session is up for as long as the link lives
    case EventKind::DsDown:
      // A line that dropped this client before lets its reconnect through.
      if (++stream.dsDownsSeen <= stream.dsDownsToPass) return;
      config_->dsDowns->record(stream.dsDownKey, stream.dsDownsSeen);
      queue(protocol::DsDown{});
      return finish("dropped: data session down (ds_down in " +
                    dataserver::quotedForLog(stream.table) + ")");
    default:
      return queueEvent(stream, event_);
  }
}

void Session::pause(Stream& stream, int32_t ms) {
  if (ms <= 0) return;
  stream.paused = true;
  stream.timer.expires_after(std::chrono::milliseconds(ms));
  stream.timer.async_wait(
      [self = shared_from_this(), serial = stream.serial](const asio::error_code& error) {
        if (!error) self->wakeFromPause(serial);
      });
}

void Session::wakeFromPause(uint64_t serial) {
  for (const auto& stream : streams_) {
    if (stream->serial == serial) stream->paused = false;
  }
  pump();
}

void Session::queueEvent(Stream& stream, const TableEvent& event) {
  std::string err;
  const bool row = event.kind == EventKind::AddRow || event.kind == EventKind::UpdateRow ||
                   event.kind == EventKind::DeleteRow;
  if (row ? protocol::encodeEvent(stream.subId, event, rowValues_, &queued_, &err)
          : protocol::encodeEvent(stream.subId, event, &queued_, &err)) {
    stream.ended = event.kind == EventKind::End;
    return;
  }
  const std::string fault = rowRefused(event.rowId, err);
  logRequest(name() + " #" + std::to_string(stream.subId) + " " +
             dataserver::quotedForLog(stream.table) + ": " + fault);
  queueFailure(stream.subId, fault);
  stream.ended = true;
}

// Ends a subscription with an Error of `text`.
void Session::queueFailure(uint32_t subId, const std::string& text) {
  queue(protocol::Event{subId, TableEvent{EventKind::Error, 0, {}, text, 0}});
  queue(protocol::Event{subId, TableEvent{EventKind::End, 0, {}, "", 0}});
}

void Session::queue(const protocol::Message& message) {
  std::string err;
  // The server's own messages always fit; a failure here is a bug to see.
  if (!protocol::encode(message, &queued_, &err)) logLine(name() + ": cannot send: " + err);
}

// ---- Writing and ending ----

void Session::flush() {
  if (writing_ || state_ == State::Closed) return;
  if (queued_.empty()) {
    if (state_ == State::Finishing) {
      // All is sent; the client's close (or the linger timer) ends the link.
      asio::error_code ignored;
      socket_.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
    }
    return;
  }
  sending_.swap(queued_);
  queued_.clear();
  sent_ = 0;
  writeSome();
  // The next bytes are encoded while these are on their way, so that the
  // client never waits for the table to be read between two writes.
  if (state_ == State::Serving && !streams_.empty()) postPump();
}

// Writes what the socket takes of sending_; each piece taken renews the
// wait for the client to read.
void Session::writeSome() {
  writing_ = true;
  watchOutput();
  socket_.async_write_some(
      asio::buffer(sending_.data() + sent_, sending_.size() - sent_),
      [self = shared_from_this()](const asio::error_code& error, size_t size) {
        self->sent_ += size;
        if (!error && self->state_ != State::Closed && self->sent_ < self->sending_.size()) {
          return self->writeSome();
        }
        self->onWritten(error);
      });
}

// Drops the client when its output has not moved for the idle timeout: a
// client that subscribes and never reads would otherwise hold its place
// (and its subscriptions' files) for ever.
void Session::watchOutput() {
  const uint64_t serial = ++outputSerial_;
  outputTimer_.expires_after(config_->idleTimeout);
  outputTimer_.async_wait([self = shared_from_this(), serial](const asio::error_code& error) {
    if (error || serial != self->outputSerial_ || !self->writing_) return;
    self->closeNow("dropped: its output not read for " +
                   std::to_string(self->config_->idleTimeout.count()) + " ms");
  });
}

void Session::onWritten(const asio::error_code& error) {
  writing_ = false;
  ++outputSerial_;
  outputTimer_.cancel();
  if (state_ == State::Closed) return;
  if (error) return closeNow("disconnected: write failed: " + platform::errorText(error));
  sending_.clear();
  // A frame far beyond the bound leaves a buffer that is not kept.
  if (sending_.capacity() > 2 * kOutgoingBound) sending_ = std::string();
  if (state_ == State::Finishing) return flush();
  pump();
  read();
}

// Sends Goodbye with `fault` and ends the link.
void Session::fail(const std::string& fault) {
  queue(protocol::Goodbye{fault});
  finish("dropped: " + fault);
}

// Ends the link once what is queued has been sent; the client's remaining
// input is read and discarded meanwhile, so that the close does not reset
// the connection before the client has read the last frames.
void Session::finish(const std::string& logTail) {
  if (state_ == State::Finishing || state_ == State::Closed) return;
  state_ = State::Finishing;
  logSessionEnd(logTail);
  streams_.clear();
  helloTimer_.cancel();
  idleTimer_.cancel();
  lingerTimer_.expires_after(kLingerTimeout);
  lingerTimer_.async_wait([self = shared_from_this()](const asio::error_code& error) {
    if (!error) self->closeNow("disconnected: linger timeout");
  });
  flush();
  read();
}

void Session::closeNow(const std::string& logTail) {
  if (state_ == State::Closed) return;
  logSessionEnd(logTail);
  state_ = State::Closed;
  streams_.clear();
  helloTimer_.cancel();
  idleTimer_.cancel();
  lingerTimer_.cancel();
  outputTimer_.cancel();
  asio::error_code ignored;
  socket_.close(ignored);
  if (config_->onClosed) config_->onClosed(id_);
}

void Session::logSessionEnd(const std::string& tail) {
  if (endLogged_) return;
  endLogged_ = true;
  logSuppressed();
  logLine(name() + " (" + peer_ + ") " + tail);
}

std::string Session::name() const { return "client " + std::to_string(id_); }

}  // namespace zuqds
