#include "dataserver/protocol.h"

#include <array>
#include <concepts>
#include <cstring>
#include <span>
#include <string_view>
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
// parses it. An Event is encoded from an EventView to spare a copy: its
// values are the event's own or views a table stream yields.
template <class Values>
struct EventView {
  uint32_t subId;
  const TableEvent& event;
  const Values& values;
};

template <class M>
inline constexpr bool kIsEventView = false;
template <class Values>
inline constexpr bool kIsEventView<const EventView<Values>> = true;

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
requires Is<M, Event> || kIsEventView<M>
void layout(S& s, M& m) {
  s.u32("subscription id", m.subId);
  s.kind(m.event.kind);
  s.i32("row id", m.event.rowId);
  s.i32("number", m.event.number);
  s.str("text", m.event.text);
  if constexpr (Is<M, Event>) {
    s.strings("values", m.event.values);
  } else {
    s.strings("values", m.values);
  }
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
  void str(const char* field, std::string_view s) {
    if (s.size() > kMaxStringBytes) fail(stringTooLong(message_, field, s.size()));
    size_ += 4 + s.size();
  }
  template <class Values>
  void strings(const char* field, const Values& values) {
    if (values.size() > kMaxValues) fail(tooManyValues(message_, values.size()));
    size_ += 4;
    for (std::string_view value : values) str(field, value);
  }

 private:
  void fail(std::string fault) {
    if (fault_.empty()) fault_ = std::move(fault);
  }

  const char* message_;
  size_t size_ = 0;
  std::string fault_;
};

// Writes a frame that a Counter has sized and passed into the bytes
// reserved for it, so that a frame costs one growth of the output at most.
class Writer {
 public:
  explicit Writer(char* at) : at_(at) {}

  void u8(uint8_t v) { *at_++ = static_cast<char>(v); }
  void u32(const char*, uint32_t v) {
    at_[0] = static_cast<char>(v >> 24);
    at_[1] = static_cast<char>(v >> 16);
    at_[2] = static_cast<char>(v >> 8);
    at_[3] = static_cast<char>(v);
    at_ += 4;
  }
  void i32(const char* field, int32_t v) { u32(field, static_cast<uint32_t>(v)); }
  void flag(const char*, bool v) { u8(v ? 1 : 0); }
  void kind(EventKind kind) {
    uint8_t code = 0;
    wireCode(kind, &code);
    u8(code);
  }
  void str(const char* field, std::string_view s) {
    u32(field, static_cast<uint32_t>(s.size()));
    if (!s.empty()) std::memcpy(at_, s.data(), s.size());
    at_ += s.size();
  }
  template <class Values>
  void strings(const char* field, const Values& values) {
    u32(field, static_cast<uint32_t>(values.size()));
    for (std::string_view value : values) str(field, value);
  }

 private:
  char* at_;
};

std::string truncated(const char* message, const char* field, size_t size, size_t left) {
  return "truncated " + std::string(message) + ": field '" + field + "' needs " +
         std::to_string(size) + " bytes, " + std::to_string(left) + " remain";
}

// Parses one payload; after the first fault every call does nothing. Each
// length is checked against its limit and the bytes that remain before
// anything is allocated for it. With `views`, the values of an Event are
// put there as views into the payload, and the event's own are emptied.
class Reader {
 public:
  Reader(const char* message, const char* data, size_t size,
         std::vector<std::string_view>* views = nullptr)
      : message_(message), data_(data), left_(size), views_(views) {}
  bool failed() const { return failed_; }
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
    std::string_view bytes;
    if (view(field, &bytes)) s.assign(bytes.data(), bytes.size());
  }
  void strings(const char* field, std::vector<std::string>& values) {
    uint32_t count = 0;
    u32(field, count);
    if (failed_) return;
    if (count > kMaxValues) return fail(tooManyValues(message_, count));
    // Every value takes at least its length prefix.
    if (!need(field, size_t{count} * 4)) return;
    if (views_ != nullptr) {
      values.clear();
      views_->resize(count);
      for (std::string_view& value : *views_) {
        // A row's values are most of what a client decodes: a value that is
        // whole and within its limit is taken at once; view() checks the
        // others and tells what is wrong.
        if (left_ >= 4) {
          const uint32_t size = loadU32(data_);
          if (size <= kMaxStringBytes && left_ - 4 >= size) {
            value = std::string_view(data_ + 4, size);
            advance(4 + size);
            continue;
          }
        }
        if (!view(field, &value)) return;
      }
      return;
    }
    values.resize(count);
    for (std::string& value : values) {
      str(field, value);
      if (failed_) return;
    }
  }
  // After the last field: the payload must be used up.
  void finish() {
    if (!failed_ && left_ > 0) {
      fail(std::string(message_) + ": " + std::to_string(left_) +
           " trailing bytes after the last field");
    }
  }

 private:
  // The bytes of a string field, checked against its limit and the payload.
  bool view(const char* field, std::string_view* out) {
    uint32_t size = 0;
    u32(field, size);
    if (failed_) return false;
    if (size > kMaxStringBytes) {
      fail(stringTooLong(message_, field, size));
      return false;
    }
    if (!need(field, size)) return false;
    *out = std::string_view(data_, size);
    advance(size);
    return true;
  }
  bool u8(const char* field, uint8_t* v) {
    if (!need(field, 1)) return false;
    *v = static_cast<unsigned char>(*data_);
    advance(1);
    return true;
  }
  bool need(const char* field, size_t size) {
    if (!failed_ && left_ >= size) return true;
    if (!failed_) fail(truncated(message_, field, size, left_));
    return false;
  }
  void advance(size_t size) {
    data_ += size;
    left_ -= size;
  }
  void fail(std::string fault) {
    if (failed_) return;
    failed_ = true;
    fault_ = std::move(fault);
  }

  const char* message_;
  const char* data_;
  size_t left_;
  std::vector<std::string_view>* views_;
  bool failed_ = false;
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
  const size_t start = out->size();
  out->resize(start + kHeaderBytes + counter.size());
  Writer writer(out->data() + start);
  writer.u32("length", static_cast<uint32_t>(counter.size()));
  writer.u8(static_cast<uint8_t>(type));
  layout(writer, message);
  return true;
}

template <class T>
bool parseAs(const char* payload, size_t size, Message* out, std::vector<std::string_view>* views,
             std::string* err) {
  // A message of the same type in *out is overwritten field by field, so
  // that its strings keep their capacity.
  T* message = std::get_if<T>(out);
  if (message == nullptr) message = &out->template emplace<T>();
  Reader reader(kNames[indexOf<T>()], payload, size, views);
  layout(reader, *message);
  reader.finish();
  if (!reader.failed()) return true;
  *err = reader.fault();
  return false;
}

using Parser = bool (*)(const char*, size_t, Message*, std::vector<std::string_view>*,
                        std::string*);

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
  return encodeFrame(indexOf<Event>(),
                     EventView<std::vector<std::string>>{subId, event, event.values}, out, err);
}

bool encodeEvent(uint32_t subId, const TableEvent& event, std::span<const std::string_view> values,
                 std::string* out, std::string* err) {
  return encodeFrame(indexOf<Event>(),
                     EventView<std::span<const std::string_view>>{subId, event, values}, out, err);
}

bool checkRowEvent(size_t valueCount, size_t valueBytes, std::string* err) {
  const char* name = kNames[indexOf<Event>()];
  if (valueCount > kMaxValues) {
    *err = tooManyValues(name, valueCount);
    return false;
  }
  const TableEvent empty{EventKind::AddRow, 0, {}, "", 0};
  const EventView<std::vector<std::string>> row{0, empty, empty.values};
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

Decoder::Result Decoder::next(Message* out, std::string* err) { return next(out, nullptr, err); }

Decoder::Result Decoder::next(Message* out, std::vector<std::string_view>* eventValues,
                              std::string* err) {
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
  } else if (kParsers[index](frame + kHeaderBytes, length, out, eventValues, &fault_)) {
    consumed_ += kHeaderBytes + length;
    return Result::Message;
  }
  buffer_.clear();
  consumed_ = 0;
  *err = fault_;
  return Result::Fault;
}

}  // namespace dataserver::protocol
