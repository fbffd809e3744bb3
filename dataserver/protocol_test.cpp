#include "dataserver/protocol.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace dataserver::protocol {
namespace {

using namespace std::string_literals;

// Every field of a message as one line, so that two messages compare equal
// exactly when their lines do.
struct Describer {
  std::string operator()(const Hello& m) { return "Hello " + n(m.version) + " " + m.clientName; }
  std::string operator()(const Subscribe& m) {
    const Subscription& s = m.subscription;
    return "Subscribe " + n(m.subId) + (m.resume ? " resume " : " new ") + s.table + "|" +
           s.columns + "|" + s.keyColumn + "|" + s.from + "|" + s.to;
  }
  std::string operator()(const Unsubscribe& m) { return "Unsubscribe " + n(m.subId); }
  std::string operator()(const Ping& m) { return "Ping " + n(m.token); }
  std::string operator()(const Welcome& m) {
    return "Welcome " + n(m.version) + " " + m.serverName;
  }
  std::string operator()(const Subscribed& m) {
    return "Subscribed " + n(m.subId) + " " + n(m.columnCount);
  }
  std::string operator()(const Event& m) {
    const TableEvent& e = m.event;
    std::string out = "Event " + n(m.subId) + " kind " + n(static_cast<int>(e.kind)) + " row " +
                      n(e.rowId) + " number " + n(e.number) + " text " + e.text + " values";
    for (const std::string& value : e.values) out += " [" + value + "]";
    return out;
  }
  std::string operator()(const DsDown&) { return "DsDown"; }
  std::string operator()(const Pong& m) { return "Pong " + n(m.token); }
  std::string operator()(const Goodbye& m) { return "Goodbye " + m.reason; }

  template <class T>
  static std::string n(T v) {
    return std::to_string(v);
  }
};

std::string describe(const Message& message) { return std::visit(Describer{}, message); }

std::string frame(const Message& message) {
  std::string out, err;
  EXPECT_TRUE(encode(message, &out, &err)) << err;
  return out;
}

Event event(uint32_t subId, EventKind kind, int32_t rowId, std::vector<std::string> values,
            std::string text = "", int32_t number = 0) {
  return Event{subId, TableEvent{kind, rowId, std::move(values), std::move(text), number}};
}

// One of each message of each side, with values at the edges of their ranges.
std::vector<Message> clientMessages() {
  return {Hello{1, "ZUQTradeReport"},
          Subscribe{7, false, {"Trade", "rev,init_name", "issue", "A", "B"}},
          Subscribe{0xffffffff, true, {"", "", "", "", ""}}, Unsubscribe{7}, Ping{0x01020304}};
}

std::vector<Message> serverMessages() {
  return {Welcome{1, "zuqds"},
          Subscribed{7, 28},
          event(7, EventKind::AddRow, -2147483647 - 1, {"", "a,\"b\"", "\0\xff\n"s}),
          event(7, EventKind::UpdateRow, 5, {"x"}),
          event(7, EventKind::DeleteRow, 2147483647, {}),
          event(7, EventKind::Clear, 0, {}),
          event(7, EventKind::Error, 0, {}, "Trade.csv:3: unterminated quote"),
          event(7, EventKind::Synchronized, 0, {}),
          event(7, EventKind::NetLost, 0, {}, "line down"),
          event(7, EventKind::NetOk, 0, {}, "line up"),
          event(7, EventKind::Code, 0, {}, "", -1),
          event(7, EventKind::End, 0, {}),
          DsDown{},
          Pong{0x01020304},
          Goodbye{"server full"}};
}

enum class Values { Copied, Viewed };

// Decodes all of `bytes`, fed in pieces of `step` bytes, as `sender` sends
// them. Viewed: an Event's values are taken as views and described as if
// they were its own.
std::vector<std::string> decodeAll(Sender sender, const std::string& bytes, size_t step,
                                   std::string* fault, Values values = Values::Copied) {
  Decoder decoder(sender);
  std::vector<std::string> out;
  Message message;
  std::vector<std::string_view> views{"stale"};
  for (size_t at = 0; at < bytes.size(); at += step) {
    decoder.feed(bytes.data() + at, std::min(step, bytes.size() - at));
    for (;;) {
      Decoder::Result result = values == Values::Viewed ? decoder.next(&message, &views, fault)
                                                        : decoder.next(&message, fault);
      if (result == Decoder::Result::Fault) return out;
      if (result == Decoder::Result::NeedMore) break;
      if (auto* event = std::get_if<Event>(&message); event && values == Values::Viewed) {
        EXPECT_TRUE(event->event.values.empty());
        event->event.values.assign(views.begin(), views.end());
      }
      out.push_back(describe(message));
    }
  }
  return out;
}

// The fault for one frame with the given header and payload, which must be
// the same whether an Event's values are copied or viewed.
std::string faultOf(Sender sender, uint8_t type, const std::string& payload) {
  const uint32_t size = static_cast<uint32_t>(payload.size());
  std::string bytes = {static_cast<char>(size >> 24), static_cast<char>(size >> 16),
                       static_cast<char>(size >> 8), static_cast<char>(size),
                       static_cast<char>(type)};
  std::string fault, viewedFault;
  EXPECT_TRUE(decodeAll(sender, bytes + payload, bytes.size(), &fault).empty());
  EXPECT_TRUE(
      decodeAll(sender, bytes + payload, bytes.size(), &viewedFault, Values::Viewed).empty());
  EXPECT_EQ(viewedFault, fault);
  return fault;
}

std::string u32(uint32_t v) {
  return {static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
          static_cast<char>(v)};
}

std::string str(const std::string& s) { return u32(static_cast<uint32_t>(s.size())) + s; }

TEST(ProtocolTest, EveryMessageSurvivesTheRoundTripWholeAndByteByByte) {
  for (auto [sender, messages] :
       {std::pair{Sender::Client, clientMessages()}, std::pair{Sender::Server, serverMessages()}}) {
    std::string bytes;
    std::vector<std::string> expected;
    for (const Message& message : messages) {
      bytes += frame(message);
      expected.push_back(describe(message));
    }
    for (size_t step : {bytes.size(), size_t{1}, size_t{3}, size_t{7}}) {
      for (Values values : {Values::Copied, Values::Viewed}) {
        std::string fault;
        EXPECT_EQ(decodeAll(sender, bytes, step, &fault, values), expected) << "step " << step;
        EXPECT_EQ(fault, "");
      }
    }
  }
}

TEST(ProtocolTest, AnEventEncodedFromViewsIsTheEventEncodedFromItsValues) {
  const std::vector<std::string> values = {"", "a,\"b\"", "\0\xff\n"s, "x"};
  const std::vector<std::string_view> views(values.begin(), values.end());
  const TableEvent event{EventKind::UpdateRow, -5, {"ignored"}, "t", 3};
  std::string viewed = "head", err;
  ASSERT_TRUE(encodeEvent(9, event, views, &viewed, &err)) << err;
  EXPECT_EQ(viewed, "head" + frame(Event{9, TableEvent{EventKind::UpdateRow, -5, values, "t", 3}}));

  // The same limits, the same words, the output left alone.
  std::string out = "kept";
  const std::vector<std::string_view> tooMany(kMaxValues + 1, "c");
  EXPECT_FALSE(encodeEvent(1, event, tooMany, &out, &err));
  EXPECT_EQ(err, "Event: 1025 values exceed the limit of 1024");
  const std::string big(kMaxStringBytes + 1, 'x');
  const std::vector<std::string_view> tooLong = {"a", big};
  EXPECT_FALSE(encodeEvent(1, event, tooLong, &out, &err));
  EXPECT_EQ(err, "Event: field 'values' of 1048577 bytes exceeds the limit of 1048576");
  EXPECT_EQ(out, "kept");
}

TEST(ProtocolTest, FramesHaveTheDocumentedLayout) {
  EXPECT_EQ(frame(Subscribe{258, true, {"T", "a,b", "k", "", "z"}}),
            u32(31) + "\x02"s + u32(258) + "\x01"s + str("T") + str("a,b") + str("k") + str("") +
                str("z"));
  EXPECT_EQ(frame(event(1, EventKind::AddRow, -2, {"x", ""})),
            u32(30) + "\x83"s + u32(1) + "\x01"s + u32(0xfffffffe) + u32(0) + str("") + u32(2) +
                str("x") + str(""));
  EXPECT_EQ(frame(event(1, EventKind::End, 0, {})),
            u32(21) + "\x83"s + u32(1) + "\x0a"s + u32(0) + u32(0) + str("") + u32(0));
  EXPECT_EQ(frame(DsDown{}), u32(0) + "\x84"s);
}

TEST(ProtocolTest, DecodingIntoAnEventOverwritesEveryField) {
  std::string bytes = frame(event(1, EventKind::AddRow, 4, {"a", "b", "c"}, "t", 9)) +
                      frame(event(2, EventKind::Clear, 0, {}));
  Decoder decoder(Sender::Server);
  decoder.feed(bytes.data(), bytes.size());
  Message message;
  std::string err;
  ASSERT_EQ(decoder.next(&message, &err), Decoder::Result::Message);
  ASSERT_EQ(decoder.next(&message, &err), Decoder::Result::Message);
  EXPECT_EQ(describe(message), "Event 2 kind 3 row 0 number 0 text  values");
  EXPECT_EQ(decoder.next(&message, &err), Decoder::Result::NeedMore);
  EXPECT_EQ(decoder.buffered(), 0u);
}

TEST(ProtocolTest, MalformedFramesAreFaultsThatNameTheirCause) {
  const Sender c = Sender::Client, s = Sender::Server;
  EXPECT_EQ(faultOf(c, 0x7f, ""), "unknown message type 0x7f");
  EXPECT_EQ(faultOf(c, 0x00, ""), "unknown message type 0x00");
  EXPECT_EQ(faultOf(c, 0x81, ""), "a client does not send Welcome");
  EXPECT_EQ(faultOf(s, 0x02, ""), "a server does not send Subscribe");
  EXPECT_EQ(faultOf(c, 0x04, "\x01\x02"), "truncated Ping: field 'token' needs 4 bytes, 2 remain");
  EXPECT_EQ(faultOf(c, 0x04, u32(1) + "\x00"s), "Ping: 1 trailing bytes after the last field");
  EXPECT_EQ(faultOf(s, 0x84, "x"), "DsDown: 1 trailing bytes after the last field");
  EXPECT_EQ(faultOf(c, 0x01, u32(1) + u32(5) + "abc"),
            "truncated Hello: field 'client name' needs 5 bytes, 3 remain");
  EXPECT_EQ(faultOf(c, 0x02, u32(1) + "\x02"s), "Subscribe: field 'resume' is 2, not 0 or 1");
  EXPECT_EQ(faultOf(c, 0x02, u32(1) + "\x00"s + u32(0x7fffffff)),
            "Subscribe: field 'table' of 2147483647 bytes exceeds the limit of 1048576");
  const std::string head = u32(1);  // subscription id
  EXPECT_EQ(faultOf(s, 0x83, head + "\x00"s), "Event: unknown event kind 0");
  EXPECT_EQ(faultOf(s, 0x83, head + "\x0b"s), "Event: unknown event kind 11");
  const std::string body = head + "\x01"s + u32(0) + u32(0) + str("");
  EXPECT_EQ(faultOf(s, 0x83, body + u32(1025)), "Event: 1025 values exceed the limit of 1024");
  EXPECT_EQ(faultOf(s, 0x83, body + u32(3) + str("a")),
            "truncated Event: field 'values' needs 12 bytes, 5 remain");
  EXPECT_EQ(faultOf(s, 0x83, body + u32(2) + str("a") + u32(9)),
            "truncated Event: field 'values' needs 9 bytes, 0 remain");
}

TEST(ProtocolTest, AnOversizedFrameIsRefusedFromItsHeaderAlone) {
  for (auto [sender, type, limit] : {std::tuple{Sender::Client, '\x02', kMaxClientPayload},
                                     std::tuple{Sender::Server, '\x83', kMaxServerPayload}}) {
    Decoder decoder(sender);
    std::string header = u32(static_cast<uint32_t>(limit + 1)) + type;
    decoder.feed(header.data(), header.size());
    Message message;
    std::string err;
    ASSERT_EQ(decoder.next(&message, &err), Decoder::Result::Fault);
    EXPECT_EQ(err, messageName(static_cast<uint8_t>(type)) + ": payload of " +
                       std::to_string(limit + 1) + " bytes exceeds the limit of " +
                       std::to_string(limit));
    // The fault is final; nothing fed afterwards is decoded.
    std::string ping = frame(Ping{1});
    decoder.feed(ping.data(), ping.size());
    std::string again;
    EXPECT_EQ(decoder.next(&message, &again), Decoder::Result::Fault);
    EXPECT_EQ(again, err);
    EXPECT_EQ(decoder.buffered(), 0u);
  }
}

TEST(ProtocolTest, EncoderRefusesWhatTheDecoderWouldAndLeavesTheOutputAlone) {
  std::string out = "kept", err;
  const std::string big(kMaxStringBytes + 1, 'x');
  EXPECT_FALSE(encode(Goodbye{big}, &out, &err));
  EXPECT_EQ(err, "Goodbye: field 'reason' of 1048577 bytes exceeds the limit of 1048576");
  EXPECT_FALSE(encode(event(1, EventKind::AddRow, 1, std::vector<std::string>(1025)), &out, &err));
  EXPECT_EQ(err, "Event: 1025 values exceed the limit of 1024");
  for (EventKind kind : {EventKind::Pause, EventKind::DsDown, EventKind::DsUp}) {
    EXPECT_FALSE(encodeEvent(1, TableEvent{kind, 0, {}, "", 5}, &out, &err));
    EXPECT_EQ(err,
              "Event: event kind " + std::to_string(static_cast<int>(kind)) + " does not travel");
  }
  const std::string quarter(kMaxClientPayload / 4, 'x');
  EXPECT_FALSE(encode(Subscribe{1, false, {quarter, quarter, quarter, quarter, ""}}, &out, &err));
  EXPECT_EQ(err, "Subscribe: payload of 262169 bytes exceeds the limit of 262144");
  EXPECT_EQ(out, "kept");
}

TEST(ProtocolTest, MessagesAtTheLimitsPass) {
  // Seven values of the longest string and one to fill the frame exactly:
  // fixed fields 21 bytes, 4 more per value.
  std::vector<std::string> values(7, std::string(kMaxStringBytes, 'v'));
  values.push_back(std::string(kMaxServerPayload - 21 - 8 * 4 - 7 * kMaxStringBytes, 'w'));
  std::string bytes, err;
  ASSERT_TRUE(encodeEvent(3, TableEvent{EventKind::AddRow, 1, values, "", 0}, &bytes, &err)) << err;
  EXPECT_EQ(bytes.size(), kHeaderBytes + kMaxServerPayload);
  // A row checked before it is built meets the same limit, in the same words.
  const size_t valueBytes = 7 * kMaxStringBytes + values.back().size();
  EXPECT_TRUE(checkRowEvent(values.size(), valueBytes, &err)) << err;
  EXPECT_FALSE(checkRowEvent(values.size(), valueBytes + 1, &err));
  EXPECT_EQ(err, "Event: payload of 8388609 bytes exceeds the limit of 8388608");
  EXPECT_FALSE(checkRowEvent(kMaxValues + 1, 0, &err));
  EXPECT_EQ(err, "Event: 1025 values exceed the limit of 1024");
  std::string fault;
  EXPECT_EQ(decodeAll(Sender::Server, bytes, 64 * 1024, &fault).size(), 1u);
  EXPECT_EQ(fault, "");

  values.back().push_back('w');
  std::string out;
  EXPECT_FALSE(encodeEvent(3, TableEvent{EventKind::AddRow, 1, values, "", 0}, &out, &err));
  EXPECT_EQ(err, "Event: payload of 8388609 bytes exceeds the limit of 8388608");

  const std::vector<std::string> most(kMaxValues, "c");
  ASSERT_TRUE(encode(event(3, EventKind::UpdateRow, 1, most), &out, &err)) << err;
  EXPECT_EQ(decodeAll(Sender::Server, out, out.size(), &fault).size(), 1u);
}

TEST(ProtocolTest, MessageNames) {
  EXPECT_EQ(messageName(0x01), "Hello");
  EXPECT_EQ(messageName(0x86), "Goodbye");
  EXPECT_EQ(messageName(0xff), "message type 0xff");
}

}  // namespace
}  // namespace dataserver::protocol
