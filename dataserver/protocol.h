// The wire protocol between the network data server `zuqds` and the network
// client of the stand-in library: its messages, the encoder and a bounded
// incremental decoder. Pure code over bytes, no sockets; docs/protocol.md
// describes the protocol in full (framing, field layouts, the session's
// course and what a peer does on a malformed frame).
//
// Frame: payload length (u32, big-endian, not counting the 5-byte header),
// message type (u8), payload. Integers are big-endian; a signed 32-bit
// value travels as its two's complement u32; a string is its length (u32)
// followed by its bytes, verbatim.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "dataserver/table_stream.h"

namespace dataserver::protocol {

inline constexpr uint32_t kVersion = 1;
inline constexpr size_t kHeaderBytes = 5;
// Longest payload of a frame a client sends: requests are small, and a
// server holds one incomplete frame per client.
inline constexpr size_t kMaxClientPayload = 256 * 1024;
// Longest payload of a frame a server sends: room for a record of the
// largest size a table file may hold, with the per-value length prefixes.
inline constexpr size_t kMaxServerPayload = 8 * 1024 * 1024;
inline constexpr size_t kMaxStringBytes = kMaxFieldBytes;  // any one string
inline constexpr size_t kMaxValues = kMaxColumns;          // values of one event

enum class MessageType : uint8_t {
  // Sent by a client.
  Hello = 0x01,
  Subscribe = 0x02,
  Unsubscribe = 0x03,
  Ping = 0x04,
  // Sent by a server.
  Welcome = 0x81,
  Subscribed = 0x82,
  Event = 0x83,
  DsDown = 0x84,
  Pong = 0x85,
  Goodbye = 0x86,
};

// The first message of a client.
struct Hello {
  uint32_t version = kVersion;
  std::string clientName;
};

// Opens subscription `subId` (chosen by the client, unique among its open
// ones). `resume`: the client held this subscription on an earlier link; the
// server then begins with a Clear event before delivering the table anew.
struct Subscribe {
  uint32_t subId = 0;
  bool resume = false;
  Subscription subscription;
};

struct Unsubscribe {
  uint32_t subId = 0;
};

struct Ping {
  uint32_t token = 0;  // echoed by the Pong
};

// The server's answer to Hello: its data session is up.
struct Welcome {
  uint32_t version = kVersion;
  std::string serverName;
};

// The table of a Subscribe was opened; its events follow.
struct Subscribed {
  uint32_t subId = 0;
  uint32_t columnCount = 0;  // values in each row event
};

// One event of a subscription's table. Kinds Pause, DsDown and DsUp never
// travel: the server acts on them itself.
struct Event {
  uint32_t subId = 0;
  TableEvent event;
};

// The server's data session is going down; the server closes the link after it.
struct DsDown {};

struct Pong {
  uint32_t token = 0;
};

// The server closes the link after this; `reason` says why.
struct Goodbye {
  std::string reason;
};

using Message = std::variant<Hello, Subscribe, Unsubscribe, Ping, Welcome, Subscribed, Event,
                             DsDown, Pong, Goodbye>;

// Who sends a frame; the decoder of a server reads frames a client sends.
enum class Sender { Client, Server };

// "Hello", "Event", ...; "message type 0x7f" for a type that is none of ours.
std::string messageName(uint8_t type);

MessageType messageType(const Message& message);

// Appends the frame of `message` to *out. False, with *out unchanged and a
// finished message in *err, when the message breaks a limit the decoder
// enforces: a string longer than kMaxStringBytes, more than kMaxValues
// values, an event kind that does not travel, a payload longer than its
// sender's limit. A frame encode() accepts is one the decoder accepts.
bool encode(const Message& message, std::string* out, std::string* err);

// The same for an Event, without copying the event into a Message.
bool encodeEvent(uint32_t subId, const TableEvent& event, std::string* out, std::string* err);

// The same with the event's values given as views (as TableStream::next()
// yields a row's); event.values is not read.
bool encodeEvent(uint32_t subId, const TableEvent& event, std::span<const std::string_view> values,
                 std::string* out, std::string* err);

// Whether the Event of a row of `valueCount` values, `valueBytes` bytes in
// all and each within kMaxStringBytes (as a table field is), fits in a
// frame. False with the message encodeEvent() would give for that row. For
// a server that checks a row before it builds it (TableStream::checkRows).
bool checkRowEvent(size_t valueCount, size_t valueBytes, std::string* err);

// Turns the bytes received from one peer into messages. One decoder per
// link; one thread at a time.
class Decoder {
 public:
  enum class Result { Message, NeedMore, Fault };

  // Reads frames that `sender` sends: a message type of the other side is a fault.
  explicit Decoder(Sender sender);

  // Appends received bytes. Drain next() until it yields no message before
  // feeding more: the decoder then holds at most one incomplete frame (its
  // length checked as soon as its header is in) plus one feed.
  void feed(const char* data, size_t size);

  // The next complete message into *out (an Event already in *out keeps the
  // capacity of its strings). NeedMore when the bytes fed so far end inside
  // a frame. Fault, with a finished message in *err (the fault, without the
  // peer's name), on the first malformed frame: unknown or foreign message
  // type, payload over the limit, truncated payload, trailing bytes, a
  // string or value count over its limit, an unknown event kind, a flag
  // that is neither 0 nor 1. A fault is final: later calls repeat it.
  Result next(Message* out, std::string* err);

  // The same, but the values of an Event are put in *eventValues instead of
  // its own `values` (left empty), as views into the decoder's buffer that
  // stay valid until the next feed() or next(): a client that passes them on
  // at once copies them once. Other messages leave *eventValues as it is.
  Result next(Message* out, std::vector<std::string_view>* eventValues, std::string* err);

  // Bytes fed and not yet consumed by a complete message.
  size_t buffered() const { return buffer_.size() - consumed_; }

 private:
  const Sender sender_;
  std::string buffer_;
  size_t consumed_ = 0;  // bytes at the front of buffer_ already decoded
  std::string fault_;    // non-empty once a fault has been found
};

}  // namespace dataserver::protocol
