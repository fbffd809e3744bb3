#include "dataserver/protocol.h"

#include <array>
#include <concepts>
#include <type_traits>
#include <utility>

namespace dataserver::protocol {
namespace {

// Message types by the index of their struct in Message.
constexpr std::array kTypes = {
    MessageType::Hello,   MessageType::Subscribe,  MessageType::Unsubscribe, MessageType::Ping,
    MessageType::Welcome, MessageType::Subscribed, MessageType::Event,       MessageType::DsDown,
    MessageType::Pong,    MessageType::Goodbye};
constexpr std::array kNames = {"Hello",      "Subscribe", "Unsubscribe", "Ping", "Welcome",
                               "Subscribed", "Event",     "DsDown",      "Pong", "Goodbye"};
static_assert(kTypes.size() == std::variant_size_v<Message>);
static_assert(kNames.size() == std::variant_size_v<Message>);

template <class T, size_t I = 0>
constexpr size_t indexOf() {
  if constexpr (std::is_same_v<std::variant_alternative_t<I, Message>, T>) {
    return I;
  } else {
    return indexOf<T, I + 1>();
  }
}

// The index in Message of the struct for `type`; -1 when none.
int indexOfType(uint8_t type) {
  for (size_t i = 0; i < kTypes.size(); ++i) {
    if (static_cast<uint8_t>(kTypes[i]) == type) return static_cast<int>(i);
  }
  return -1;
}

bool sentByClient(MessageType type) { return static_cast<uint8_t>(type) < 0x80; }

size_t payloadLimit(MessageType type) {
  return sentByClient(type) ? kMaxClientPayload : kMaxServerPayload;
}

// Event kinds on the wire: code = position + 1. The others never travel.
constexpr std::array kWireKinds = {
    EventKind::AddRow, EventKind::UpdateRow,    EventKind::DeleteRow, EventKind::Clear,
    EventKind::Error,  EventKind::Synchronized, EventKind::NetLost,   EventKind::NetOk,
    EventKind::Code,   EventKind::End};

bool wireCode(EventKind kind, uint8_t* code) {
  for (size_t i = 0; i < kWireKinds.size(); ++i) {
    if (kWireKinds[i] == kind) {
      *code = static_cast<uint8_t>(i + 1);
      return true;
    }
  }
  return false;
}

uint32_t loadU32(const char* p) {
  auto byte = [p](int i) { return static_cast<uint32_t>(static_cast<unsigned char>(p[i])); };
  return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

// The fields of each message in wire order, written once for the three
// sinks below: Counter sizes and checks a message, Writer appends it, Reader
// parses it. An Event is encoded from an EventView to spare a copy.
struct EventView {
  uint32_t subId;
  const TableEvent& event;
};

template <class M, class T>
concept Is = std::same_as<std::remove_const_t<M>, T>;

template <class S, Is<Hello> M>
void layout(S& s, M& m) {
  s.u32("version", m.version);
  s.str("client name", m.clientName);
}
template <class S, Is<Subscribe> M>
void layout(S& s, M& m) {
  s.u32("subscription id", m.subId);
  s.flag("resume", m.resume);
  s.str("table", m.subscription.table);
  s.str("columns", m.subscription.columns);
  s.str("key column", m.subscription.keyColumn);
  s.str("from", m.subscription.from);
  s.str("to", m.subscription.to);
}
template <class S, class M>
requires Is<M, Unsubscribe> || Is<M, Ping> || Is<M, Pong>
void layout(S& s, M& m) {
  if constexpr (Is<M, Unsubscribe>) {
    s.u32("subscription id", m.subId);
  } else {
    s.u32("token", m.token);
  }
}
template <class S, Is<Welcome> M>
void layout(S& s, M& m) {
  s.u32("version", m.version);
  s.str("server name", m.serverName);
}
template <class S, Is<Subscribed> M>
void layout(S& s, M& m) {
  s.u32("subscription id", m.subId);
  s.u32("column count", m.columnCount);
}
template <class S, class M>
requires Is<M, Event> || Is<M, EventView>
void layout(S& s, M& m) {
  s.u32("subscription id", m.subId);
  s.kind(m.event.kind);
  s.i32("row id", m.event.rowId);
  s.i32("number", m.event.number);
  s.str("text", m.event.text);
  s.strings("values", m.event.values);
}
template <class S, Is<DsDown> M>
void layout(S&, M&) {}
template <class S, Is<Goodbye> M>
void layout(S& s, M& m) {
  s.str("reason", m.reason);
}

std::string stringTooLong(const char* message, const char* field, size_t size) {
  return std::string(message) + ": field '" + field + "' of " + std::to_string(size) +
         " bytes exceeds the limit of " + std::to_string(kMaxStringBytes);
}

std::string payloadTooLong(const char* message, size_t size, size_t limit) {
  return std::string(message) + ": payload of " + std::to_string(size) +
         " bytes exceeds the limit of " + std::to_string(limit);
}

std::string tooManyValues(const char* message, size_t count) {
  return std::string(message) + ": " + std::to_string(count) + " values exceed the limit of " +
         std::to_string(kMaxValues);
}

// Sizes a payload and finds the first limit it breaks.
class Counter {
 public:
  explicit Counter(const char* message) : message_(message) {}
  size_t size() const { return size_; }
  const std::string& fault() const { return fault_; }

  void u32(const char*, uint32_t) { size_ += 4; }
  void i32(const char*, int32_t) { size_ += 4; }
  void flag(const char*, bool) { size_ += 1; }
  void kind(EventKind kind) {
    uint8_t code = 0;
    if (!wireCode(kind, &code)) {
      fail(std::string(message_) + ": event kind " + std::to_string(static_cast<int>(kind)) +
           " does not travel");
    }
    size_ += 1;
  }
  void str(const char* field, const std::string& s) {
    if (s.size() > kMaxStringBytes) fail(stringTooLong(message_, field, s.size()));
    size_ += 4 + s.size();
  }
  void strings(const char* field, const std::vector<std::string>& values) {
    if (values.size() > kMaxValues) fail(tooManyValues(message_, values.size()));
    size_ += 4;
    for (const std::string& value : values) str(field, value);
  }

 private:
  void fail(std::string fault) {
    if (fault_.empty()) fault_ = std::move(fault);
  }

  const char* message_;
  size_t size_ = 0;
  std::string fault_;
};

// Appends a payload that a Counter has passed.
class Writer {
 public:
  explicit Writer(std::string* out) : out_(out) {}

  void u8(uint8_t v) { out_->push_back(static_cast<char>(v)); }
  void u32(const char*, uint32_t v) {
    const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                           static_cast<char>(v >> 8), static_cast<char>(v)};
    out_->append(bytes, 4);
  }
  void i32(const char* field, int32_t v) { u32(field, static_cast<uint32_t>(v)); }
  void flag(const char*, bool v) { u8(v ? 1 : 0); }
  void kind(EventKind kind) {
    uint8_t code = 0;
    wireCode(kind, &code);
    u8(code);
  }
  void str(const char* field, const std::string& s) {
    u32(field, static_cast<uint32_t>(s.size()));
    out_->append(s);
  }
  void strings(const char* field, const std::vector<std::string>& values) {
    u32(field, static_cast<uint32_t>(values.size()));
    for (const std::string& value : values) str(field, value);
  }

 private:
  std::string* out_;
};

// Parses one payload; after the first fault every call does nothing. Each
// length is checked against its limit and the bytes that remain before
// anything is allocated for it.
class Reader {
 public:
  Reader(const char* message, const char* data, size_t size)
      : message_(message), data_(data), left_(size) {}
  const std::string& fault() const { return fault_; }

  void u32(const char* field, uint32_t& v) {
    if (!need(field, 4)) return;
    v = loadU32(data_);
    advance(4);
  }
  void i32(const char* field, int32_t& v) {
    uint32_t raw = 0;
    u32(field, raw);
    v = static_cast<int32_t>(raw);
  }
  void flag(const char* field, bool& v) {
    uint8_t raw = 0;
    if (!u8(field, &raw)) return;
    if (raw > 1) {
      fail(std::string(message_) + ": field '" + field + "' is " + std::to_string(raw) +
           ", not 0 or 1");
    }
    v = raw == 1;
  }
  void kind(EventKind& kind) {
    uint8_t code = 0;
    if (!u8("event kind", &code)) return;
    if (code == 0 || code > kWireKinds.size()) {
      fail(std::string(message_) + ": unknown event kind " + std::to_string(code));
      return;
    }
    kind = kWireKinds[code - 1];
  }
  void str(const char* field, std::string& s) {
    uint32_t size = 0;
    u32(field, size);
    if (!fault_.empty()) return;
    if (size > kMaxStringBytes) return fail(stringTooLong(message_, field, size));
    if (!need(field, size)) return;
    s.assign(data_, size);
    advance(size);
  }
  void strings(const char* field, std::vector<std::string>& values) {
    uint32_t count = 0;
    u32(field, count);
    if (!fault_.empty()) return;
    if (count > kMaxValues) return fail(tooManyValues(message_, count));
    // Every value takes at least its length prefix.
    if (!need(field, size_t{count} * 4)) return;
    values.resize(count);
    for (std::string& value : values) {
      str(field, value);
      if (!fault_.empty()) return;
    }
  }
  // After the last field: the payload must be used up.
  void finish() {
    if (fault_.empty() && left_ > 0) {
      fail(std::string(message_) + ": " + std::to_string(left_) +
           " trailing bytes after the last field");
    }
  }

 private:
  bool u8(const char* field, uint8_t* v) {
    if (!need(field, 1)) return false;
    *v = static_cast<unsigned char>(*data_);
    advance(1);
    return true;
  }
  bool need(const char* field, size_t size) {
    if (!fault_.empty()) return false;
    if (left_ >= size) return true;
    fail("truncated " + std::string(message_) + ": field '" + field + "' needs " +
         std::to_string(size) + " bytes, " + std::to_string(left_) + " remain");
    return false;
  }
  void advance(size_t size) {
    data_ += size;
    left_ -= size;
  }
  void fail(std::string fault) {
    if (fault_.empty()) fault_ = std::move(fault);
  }

  const char* message_;
  const char* data_;
  size_t left_;
  std::string fault_;
};

template <class T>
bool encodeFrame(size_t index, const T& message, std::string* out, std::string* err) {
  const char* name = kNames[index];
  const MessageType type = kTypes[index];
  Counter counter(name);
  layout(counter, message);
  if (!counter.fault().empty()) {
    *err = counter.fault();
    return false;
  }
  if (counter.size() > payloadLimit(type)) {
    *err = payloadTooLong(name, counter.size(), payloadLimit(type));
    return false;
  }
  Writer writer(out);
  writer.u32("length", static_cast<uint32_t>(counter.size()));
  writer.u8(static_cast<uint8_t>(type));
  layout(writer, message);
  return true;
}

template <class T>
bool parseAs(const char* payload, size_t size, Message* out, std::string* err) {
  // A message of the same type in *out is overwritten field by field, so
  // that its strings keep their capacity.
  T* message = std::get_if<T>(out);
  if (message == nullptr) message = &out->template emplace<T>();
  Reader reader(kNames[indexOf<T>()], payload, size);
  layout(reader, *message);
  reader.finish();
  *err = reader.fault();
  return err->empty();
}

using Parser = bool (*)(const char*, size_t, Message*, std::string*);

template <size_t... I>
constexpr auto makeParsers(std::index_sequence<I...>) {
  return std::array<Parser, sizeof...(I)>{&parseAs<std::variant_alternative_t<I, Message>>...};
}
constexpr auto kParsers = makeParsers(std::make_index_sequence<std::variant_size_v<Message>>());

std::string hex(uint8_t v) {
  const char digits[] = "0123456789abcdef";
  return std::string("0x") + digits[v >> 4] + digits[v & 15];
}

}  // namespace

std::string messageName(uint8_t type) {
  int index = indexOfType(type);
  return index < 0 ? "message type " + hex(type) : kNames[index];
}

MessageType messageType(const Message& message) { return kTypes[message.index()]; }

bool encode(const Message& message, std::string* out, std::string* err) {
  return std::visit(
      [&](const auto& m) {
        return encodeFrame(indexOf<std::remove_cvref_t<decltype(m)>>(), m, out, err);
      },
      message);
}

bool encodeEvent(uint32_t subId, const TableEvent& event, std::string* out, std::string* err) {
  return encodeFrame(indexOf<Event>(), EventView{subId, event}, out, err);
}

bool checkRowEvent(size_t valueCount, size_t valueBytes, std::string* err) {
  const char* name = kNames[indexOf<Event>()];
  if (valueCount > kMaxValues) {
    *err = tooManyValues(name, valueCount);
    return false;
  }
  const TableEvent empty{EventKind::AddRow, 0, {}, "", 0};
  const EventView row{0, empty};
  Counter counter(name);
  layout(counter, row);
  const size_t size = counter.size() + valueCount * 4 + valueBytes;
  if (size > kMaxServerPayload) {
    *err = payloadTooLong(name, size, kMaxServerPayload);
    return false;
  }
  return true;
}

Decoder::Decoder(Sender sender) : sender_(sender) {}

void Decoder::feed(const char* data, size_t size) {
  if (!fault_.empty()) return;  // nothing more will be decoded
  if (consumed_ == buffer_.size()) {
    buffer_.clear();
    consumed_ = 0;
  } else if (consumed_ > 0) {
    buffer_.erase(0, consumed_);
    consumed_ = 0;
  }
  buffer_.append(data, size);
}

Decoder::Result Decoder::next(Message* out, std::string* err) {
  if (!fault_.empty()) {
    *err = fault_;
    return Result::Fault;
  }
  const size_t available = buffer_.size() - consumed_;
  if (available < kHeaderBytes) return Result::NeedMore;
  const char* frame = buffer_.data() + consumed_;
  const uint32_t length = loadU32(frame);
  const auto type = static_cast<uint8_t>(frame[4]);
  const int index = indexOfType(type);
  if (index < 0) {
    fault_ = "unknown " + messageName(type);
  } else if (sentByClient(kTypes[index]) != (sender_ == Sender::Client)) {
    fault_ = std::string(sender_ == Sender::Client ? "a client" : "a server") + " does not send " +
             kNames[index];
  } else if (length > payloadLimit(kTypes[index])) {
    fault_ = payloadTooLong(kNames[index], length, payloadLimit(kTypes[index]));
  } else if (available - kHeaderBytes < length) {
    return Result::NeedMore;
  } else if (parseFrame(type, frame + kHeaderBytes, length, out)) {
    consumed_ += kHeaderBytes + length;
    return Result::Message;
  }
  buffer_.clear();
  consumed_ = 0;
  *err = fault_;
  return Result::Fault;
}

bool Decoder::parseFrame(uint8_t type, const char* payload, size_t size, Message* out) {
  return kParsers[indexOfType(type)](payload, size, out, &fault_);
}

}  // namespace dataserver::protocol
