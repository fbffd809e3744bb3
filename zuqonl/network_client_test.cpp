// The library's network client through the C interface, against a data
// server scripted by the test: a plain socket on 127.0.0.1 that speaks the
// protocol through its codec, one frame at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dataserver/protocol.h"
#include "test_recorder.h"
#include "testsupport/loopback.h"
#include "testsupport/temp_dir.h"
#include "zuqonl.h"

namespace zuqonl {
namespace {

namespace protocol = dataserver::protocol;
using dataserver::EventKind;
using dataserver::TableEvent;
using testing::codesOf;
using testing::hasCode;
using testing::hasRows;
using testing::Received;
using testing::Recorder;
using testing::recordingCallback;
using testsupport::readTextFile;
using testsupport::TempDir;
using testsupport::writeFile;

constexpr int kWaitMs = 10000;  // only reached when something is wrong

// One accepted link, seen from the server's side.
class FakeLink {
 public:
  explicit FakeLink(testsupport::LoopbackSocket socket) : socket_(std::move(socket)) {}
  FakeLink(const FakeLink&) = delete;
  FakeLink& operator=(const FakeLink&) = delete;

  // False once the client is gone.
  bool sendRaw(const std::string& bytes) { return socket_.send(bytes); }
  bool send(const protocol::Message& message) {
    std::string bytes, err;
    EXPECT_TRUE(protocol::encode(message, &bytes, &err)) << err;
    return sendRaw(bytes);
  }
  bool sendEvent(uint32_t subId, EventKind kind, int32_t rowId = 0,
                 std::vector<std::string> values = {}, std::string text = "") {
    return send(protocol::Event{subId, TableEvent{kind, rowId, std::move(values), text, 0}});
  }

  // The client's next message; none once it closed the link (or after kWaitMs).
  std::optional<protocol::Message> receive() {
    protocol::Message message;
    std::string fault;
    for (;;) {
      const auto result = decoder_.next(&message, &fault);
      if (result == protocol::Decoder::Result::Message) return message;
      if (result == protocol::Decoder::Result::Fault) {
        ADD_FAILURE() << "malformed frame from the client: " << fault;
        return std::nullopt;
      }
      char buffer[4096];
      if (!socket_.waitReadable(kWaitMs)) {
        ADD_FAILURE() << "the client sent nothing within " << kWaitMs << " ms";
        return std::nullopt;
      }
      const long size = socket_.receiveSome(buffer, sizeof buffer);
      if (size <= 0) return std::nullopt;
      decoder_.feed(buffer, static_cast<size_t>(size));
    }
  }
  template <class M>
  M receiveAs() {
    std::optional<protocol::Message> message = receive();
    if (!message.has_value() || !std::holds_alternative<M>(*message)) {
      ADD_FAILURE() << "not the message expected";
      return M{};
    }
    return std::get<M>(*message);
  }

  // Takes the client's Hello and answers Welcome.
  void greet() {
    const auto hello = receiveAs<protocol::Hello>();
    EXPECT_EQ(hello.version, protocol::kVersion);
    EXPECT_EQ(hello.clientName, "zuqonl");
    send(protocol::Welcome{protocol::kVersion, "fake"});
  }

  // True once the client closed the link, reading past what it still sends.
  bool closedByClient() {
    while (receive().has_value()) {
    }
    return !::testing::Test::HasFailure();
  }

 private:
  testsupport::LoopbackSocket socket_;
  protocol::Decoder decoder_{protocol::Sender::Client};
};

// A listening socket on 127.0.0.1, on a free port or a given one.
class FakeServer {
 public:
  explicit FakeServer(uint16_t port = 0, int backlog = 16) : listener_(port, backlog) {
    EXPECT_TRUE(listener_.valid());
  }

  uint16_t port() const { return listener_.port(); }
  std::string address() const { return listener_.address(); }

  // The next link; null (and a test failure) when none comes within kWaitMs.
  std::unique_ptr<FakeLink> accept() {
    testsupport::LoopbackSocket link = listener_.accept(kWaitMs);
    if (!link.valid()) {
      ADD_FAILURE() << "no connection within " << kWaitMs << " ms";
      return nullptr;
    }
    return std::make_unique<FakeLink>(std::move(link));
  }

 private:
  testsupport::LoopbackListener listener_;
};

auto count(int32_t code) {
  return [code](const std::vector<Received>& all) {
    return std::count_if(all.begin(), all.end(), [&](const Received& r) { return r.code == code; });
  };
}

auto hasCount(int32_t code, long wanted) {
  return [=](const std::vector<Received>& all) { return count(code)(all) >= wanted; };
}

class NetworkClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::g_recorder = &recorder_;
    zuqonlRegisterCallback(recordingCallback);
  }
  void TearDown() override {
    closeLibrary();
    EXPECT_EQ(recorder_.lateNotifications, 0);
  }

  // Opens the library on `server` ("data_dir" is set as well, and ignored).
  void open(const std::string& server, const std::string& extra = "reconnect_ms=10\n") {
    writeFile(dir_ / "test.ini",
              "[zuqonl]\nserver=" + server + "\ndata_dir=.\nlog_file=zuqonl.log\n" + extra);
    zuqonlSetIniPath((dir_ / "test.ini").c_str());
    ASSERT_EQ(zuqonlOpen(), 1);
  }
  void closeLibrary() {
    zuqonlClose();
    recorder_.libraryClosed = true;
  }
  std::string log() { return readTextFile(dir_ / "zuqonl.log"); }
  // Polls the log file, which the library flushes whenever its thread waits.
  bool waitForLog(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    while (log().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }
  // Opens the library and brings the session up over the server's first link.
  std::unique_ptr<FakeLink> connectSession() {
    open(server_.address());
    std::unique_ptr<FakeLink> link = server_.accept();
    if (link != nullptr) link->greet();
    EXPECT_TRUE(recorder_.waitFor(hasCode(ZUQONL_DS_CONNECTED)));
    return link;
  }

  TempDir dir_;
  Recorder recorder_;
  FakeServer server_;
};

TEST_F(NetworkClientTest, DeliversTheSessionThenTheTableAsTheServerSendsIt) {
  open(server_.address());
  std::unique_ptr<FakeLink> link = server_.accept();
  ASSERT_NE(link, nullptr);
  const auto hello = link->receiveAs<protocol::Hello>();
  EXPECT_EQ(hello.version, protocol::kVersion);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_NET_INTEGRITY_OK)));
  EXPECT_FALSE(hasCode(ZUQONL_DS_CONNECTED)(recorder_.snapshot()));
  link->send(protocol::Welcome{protocol::kVersion, "fake"});
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_DS_CONNECTED)));

  ASSERT_EQ(zuqonlOpenConnection(1, "Trade", "c,a,nosuch", "issue_name", "X", "Y", 0), 1);
  const auto subscribe = link->receiveAs<protocol::Subscribe>();
  EXPECT_EQ(subscribe.subId, 1u);
  EXPECT_FALSE(subscribe.resume);
  EXPECT_EQ(subscribe.subscription.table, "Trade");
  EXPECT_EQ(subscribe.subscription.columns, "c,a,nosuch");
  EXPECT_EQ(subscribe.subscription.keyColumn, "issue_name");
  EXPECT_EQ(subscribe.subscription.from, "X");
  EXPECT_EQ(subscribe.subscription.to, "Y");
  link->send(protocol::Subscribed{1, 3});
  link->sendEvent(1, EventKind::AddRow, 7, {"6", "4", ""});
  link->sendEvent(1, EventKind::UpdateRow, 7, {"6", "5", ""});
  link->sendEvent(1, EventKind::Clear);
  link->sendEvent(1, EventKind::NetOk, 0, {}, "back");
  link->send(protocol::Event{1, TableEvent{EventKind::Code, 0, {}, "", 99}});
  link->sendEvent(1, EventKind::Synchronized);
  link->sendEvent(1, EventKind::End);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 1)));
  closeLibrary();

  const std::vector<Received> all = recorder_.snapshot();
  std::vector<int32_t> codes;
  for (const Received& r : all) codes.push_back(r.code);
  EXPECT_EQ(codes, (std::vector<int32_t>{14, 16, 27, 22, 23, 24, 21, 14, 99, 26}));
  EXPECT_EQ(all[0].text, "data server " + server_.address());
  EXPECT_EQ(all[3].count, 3);
  EXPECT_EQ(all[3].text, "c,a,nosuch");
  EXPECT_EQ(all[4].rowId, 7);
  EXPECT_EQ(all[4].values[0], "6");
  EXPECT_EQ(all[4].values[1], "4");
  EXPECT_EQ(all[4].values[2], "");
  EXPECT_FALSE(all[4].values[3].has_value());
  EXPECT_EQ(all[5].values[1], "5");
  EXPECT_EQ(all[7].text, "back");
}

// Failed tables, closed connections, stray ids: none of them ends the link.
TEST_F(NetworkClientTest, SubscriptionsEndOrFailWithoutTouchingTheLink) {
  std::unique_ptr<FakeLink> link = connectSession();
  ASSERT_NE(link, nullptr);
  ASSERT_EQ(zuqonlOpenConnection(1, "Nope", "a", "", "", "", 0), 1);
  ASSERT_EQ(zuqonlOpenConnection(1, "Small", "a", "", "", "", 0), 2);
  const std::string huge(protocol::kMaxStringBytes + 1, 'c');
  ASSERT_EQ(zuqonlOpenConnection(1, "Wide", huge.c_str(), "", "", "", 0), 3);
  EXPECT_EQ(link->receiveAs<protocol::Subscribe>().subId, 1u);
  EXPECT_EQ(link->receiveAs<protocol::Subscribe>().subId, 2u);
  link->sendEvent(1, EventKind::Error, 0, {}, "unknown table 'Nope'");
  link->sendEvent(1, EventKind::End);
  link->sendEvent(1, EventKind::AddRow, 1, {"after its end"});
  link->sendEvent(42, EventKind::AddRow, 1, {"never subscribed"});
  link->send(protocol::Subscribed{2, 1});
  link->sendEvent(2, EventKind::AddRow, 1, {"x"});
  ASSERT_TRUE(recorder_.waitFor(hasRows(2, 1)));

  ASSERT_EQ(zuqonlCloseConnection(2), 1);
  recorder_.closedConn = 2;
  EXPECT_EQ(link->receiveAs<protocol::Unsubscribe>().subId, 2u);
  link->sendEvent(2, EventKind::AddRow, 2, {"already on its way"});
  link->sendEvent(2, EventKind::Synchronized);
  ASSERT_EQ(zuqonlOpenConnection(1, "Small", "a", "", "", "", 0), 4);
  EXPECT_EQ(link->receiveAs<protocol::Subscribe>().subId, 4u);
  link->send(protocol::Subscribed{4, 1});
  link->sendEvent(4, EventKind::Synchronized);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 4)));
  closeLibrary();

  const std::vector<Received> all = recorder_.snapshot();
  EXPECT_EQ(codesOf(all, 1), std::vector<int32_t>{ZUQONL_ERROR});
  EXPECT_EQ(codesOf(all, 2), (std::vector<int32_t>{27, 22, 23}));
  EXPECT_EQ(codesOf(all, 3), std::vector<int32_t>{ZUQONL_ERROR});
  for (const Received& r : all) {
    if (r.code == ZUQONL_ERROR && r.conn == 1) {
      EXPECT_EQ(r.text, "unknown table 'Nope'");
    }
    if (r.code == ZUQONL_ERROR && r.conn == 3) {
      EXPECT_EQ(r.text.rfind("subscription cannot be sent: ", 0), 0u) << r.text;
    }
  }
  EXPECT_EQ(count(ZUQONL_NET_INTEGRITY_LOST)(all), 0);
}

struct Hostile {
  const char* name;
  bool welcomeFirst;
  std::string bytes;
  std::string logged;  // after "[zuqonl] data server HOST:PORT: "
};

std::string frame(const protocol::Message& message) {
  std::string bytes, err;
  protocol::encode(message, &bytes, &err);
  return bytes;
}

std::vector<Hostile> hostileFrames() {
  using namespace std::string_literals;
  std::string welcomeV2 = frame(protocol::Welcome{2, "future"});
  return {
      {"unknown type", false, "\0\0\0\0\x7f"s, "malformed frame: unknown message type 0x7f"},
      {"text", true, "GET / HTTP/1.0\r\n\r\n", "malformed frame: unknown message type 0x2f"},
      {"oversized", true, "\xff\xff\xff\xff\x83"s,
       "malformed frame: Event: payload of 4294967295 bytes exceeds the limit of 8388608"},
      {"client's message", false, frame(protocol::Hello{1, "mirror"}),
       "malformed frame: a server does not send Hello"},
      {"truncated", true, "\0\0\0\x03\x83\0\0\0"s,
       "malformed frame: truncated Event: field 'subscription id' needs 4 bytes, 3 remain"},
      {"event before welcome", false, frame(protocol::Event{1, TableEvent{}}),
       "protocol error: Event before Welcome"},
      {"welcome of another version", false, welcomeV2,
       "protocol error: protocol version 2 is not supported (this library speaks 1)"},
      {"event before subscribed", true,
       frame(protocol::Event{1, TableEvent{EventKind::AddRow, 1, {}, "", 0}}),
       "protocol error: Event before Subscribed for subscription 1"},
  };
}

// Each link gets one hostile frame; the client logs it, drops the link and
// comes back on the next, subscription and all.
TEST_F(NetworkClientTest, AHostileFrameIsALogLineAndALostLinkThenTheClientReconnects) {
  open(server_.address());
  const std::vector<Hostile> cases = hostileFrames();
  long sessions = 0;
  for (const Hostile& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<FakeLink> link = server_.accept();
    ASSERT_NE(link, nullptr);
    if (c.welcomeFirst) {
      link->greet();
      ASSERT_TRUE(recorder_.waitFor(hasCount(ZUQONL_DS_CONNECTED, ++sessions)));
      if (sessions == 1) {
        ASSERT_EQ(zuqonlOpenConnection(1, "T", "a", "", "", "", 0), 1);
      }
      const auto subscribe = link->receiveAs<protocol::Subscribe>();
      EXPECT_EQ(subscribe.resume, sessions > 1);
    } else {
      link->receiveAs<protocol::Hello>();
    }
    link->sendRaw(c.bytes);
    EXPECT_TRUE(link->closedByClient());
    EXPECT_TRUE(waitForLog("[zuqonl] data server " + server_.address() + ": " + c.logged +
                           ", link closed\n"))
        << log();
  }
  ASSERT_TRUE(recorder_.waitFor(hasCount(ZUQONL_NET_INTEGRITY_LOST, long(cases.size()))));
  ASSERT_TRUE(recorder_.waitFor(hasCount(ZUQONL_DS_DISCONNECTED, sessions)));
  EXPECT_NE(server_.accept(), nullptr);
}

TEST_F(NetworkClientTest, DsDownAndGoodbyeEndTheSessionThenTheClientReconnects) {
  std::unique_ptr<FakeLink> link = connectSession();
  ASSERT_NE(link, nullptr);
  link->send(protocol::DsDown{});
  EXPECT_TRUE(link->closedByClient());
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_NET_INTEGRITY_LOST)));

  link = server_.accept();
  ASSERT_NE(link, nullptr);
  link->greet();
  link->send(protocol::Goodbye{"server full\n(1 clients)"});
  EXPECT_TRUE(link->closedByClient());
  ASSERT_TRUE(recorder_.waitFor(hasCount(ZUQONL_NET_INTEGRITY_LOST, 2)));
  link = server_.accept();
  ASSERT_NE(link, nullptr);
  link->receiveAs<protocol::Hello>();  // sent once NetIntegrityOk was delivered
  closeLibrary();

  std::vector<int32_t> codes;
  for (const Received& r : recorder_.snapshot()) codes.push_back(r.code);
  EXPECT_EQ(codes, (std::vector<int32_t>{14, 16, 17, 15, 14, 16, 15, 17, 14}));
  const std::string prefix = "[zuqonl] data server " + server_.address() + ": ";
  EXPECT_NE(log().find(prefix + "data session down, link closed\n"), std::string::npos) << log();
  EXPECT_NE(log().find(prefix + "the server ended the link: 'server full\\x0a(1 clients)'\n"),
            std::string::npos)
      << log();
}

TEST_F(NetworkClientTest, AfterALostLinkTheSubscriptionsStillHeldAreResumed) {
  std::unique_ptr<FakeLink> link = connectSession();
  ASSERT_NE(link, nullptr);
  ASSERT_EQ(zuqonlOpenConnection(1, "A", "a", "", "", "", 0), 1);
  ASSERT_EQ(zuqonlOpenConnection(1, "B", "b", "", "", "", 0), 2);
  EXPECT_FALSE(link->receiveAs<protocol::Subscribe>().resume);
  EXPECT_FALSE(link->receiveAs<protocol::Subscribe>().resume);
  link->send(protocol::Subscribed{1, 1});
  link->sendEvent(1, EventKind::AddRow, 1, {"first"});
  link->sendEvent(1, EventKind::Synchronized);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 1)));
  link.reset();
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_DS_DISCONNECTED)));

  // While the link is down the program lets go of one and opens another.
  ASSERT_EQ(zuqonlCloseConnection(2), 1);
  ASSERT_EQ(zuqonlOpenConnection(1, "C", "c", "", "", "", 0), 3);
  link = server_.accept();
  ASSERT_NE(link, nullptr);
  link->greet();
  const auto resumed = link->receiveAs<protocol::Subscribe>();
  EXPECT_EQ(resumed.subId, 1u);
  EXPECT_TRUE(resumed.resume);
  EXPECT_EQ(resumed.subscription.table, "A");
  const auto fresh = link->receiveAs<protocol::Subscribe>();
  EXPECT_EQ(fresh.subId, 3u);
  EXPECT_FALSE(fresh.resume);
  link->send(protocol::Subscribed{1, 1});
  link->sendEvent(1, EventKind::Clear);
  link->sendEvent(1, EventKind::AddRow, 1, {"again"});
  link->sendEvent(1, EventKind::Synchronized);
  ASSERT_TRUE(recorder_.waitFor(hasCount(ZUQONL_SYNCHRONIZED, 2)));
  closeLibrary();

  const std::vector<Received> all = recorder_.snapshot();
  EXPECT_EQ(codesOf(all, 1), (std::vector<int32_t>{27, 22, 23, 26, 21, 23, 26}));
  EXPECT_EQ(codesOf(all, 0), (std::vector<int32_t>{14, 16, 15, 17, 14, 16}));
  EXPECT_TRUE(codesOf(all, 2).empty());
  EXPECT_NE(log().find("link closed by the server\n"), std::string::npos) << log();
}

// A server that delivers a resumed table again without a Clear of its own:
// the library reports the Clear before the first row all the same, so that
// no row of the earlier delivery outlives it. One that sends its Clear is
// not reported twice; a later Clear of the table is reported as ever.
TEST_F(NetworkClientTest, AResumedTableBeginsWithAClearWhatTheServerSends) {
  std::unique_ptr<FakeLink> link = connectSession();
  ASSERT_NE(link, nullptr);
  ASSERT_EQ(zuqonlOpenConnection(1, "A", "a", "", "", "", 0), 1);
  link->receiveAs<protocol::Subscribe>();
  link->send(protocol::Subscribed{1, 1});
  link->sendEvent(1, EventKind::AddRow, 1, {"stale"});
  ASSERT_TRUE(recorder_.waitFor(hasRows(1, 1)));
  for (bool serverClears : {false, true}) {
    SCOPED_TRACE(serverClears);
    link.reset();
    ASSERT_TRUE(recorder_.waitFor(hasCount(ZUQONL_DS_DISCONNECTED, serverClears ? 2 : 1)));
    link = server_.accept();
    ASSERT_NE(link, nullptr);
    link->greet();
    EXPECT_TRUE(link->receiveAs<protocol::Subscribe>().resume);
    link->send(protocol::Subscribed{1, 1});
    if (serverClears) link->sendEvent(1, EventKind::Clear);
    link->sendEvent(1, EventKind::AddRow, 2, {"fresh"});
    ASSERT_TRUE(recorder_.waitFor(hasRows(1, serverClears ? 3 : 2)));
  }
  link->sendEvent(1, EventKind::Clear);
  link->sendEvent(1, EventKind::Synchronized);
  ASSERT_TRUE(recorder_.waitFor(hasCode(ZUQONL_SYNCHRONIZED, 1)));
  closeLibrary();
  EXPECT_EQ(codesOf(recorder_.snapshot(), 1),
            (std::vector<int32_t>{27, 22, 23, 21, 23, 21, 23, 21, 26}));
}

TEST_F(NetworkClientTest, NoServerListeningKeepsRetryingWithOneLogLine) {
  uint16_t port = 0;
  {
    FakeServer reserved;
    port = reserved.port();
  }
  open("127.0.0.1:" + std::to_string(port), "reconnect_ms=0\n");  // taken as the least, 10
  ASSERT_TRUE(waitForLog(": cannot connect: "));
  FakeServer late(port);
  std::unique_ptr<FakeLink> link = late.accept();
  ASSERT_NE(link, nullptr);
  link->receiveAs<protocol::Hello>();
  closeLibrary();

  const std::string text = log();
  // The reason is the system's own text: "Connection refused" on POSIX,
  // longer and ending in a period on Windows.
  const std::string start =
      "[zuqonl] data server 127.0.0.1:" + std::to_string(port) + ": cannot connect: ";
  const size_t at = text.find(start);
  ASSERT_NE(at, std::string::npos) << text;
  const std::string line = text.substr(at, text.find('\n', at) + 1 - at);
  EXPECT_TRUE(line.ends_with("; retrying every 10 ms\n")) << line;
#ifndef _WIN32
  EXPECT_EQ(line, start + "Connection refused; retrying every 10 ms\n");
#endif
  EXPECT_EQ(text.find(start), text.rfind(start)) << text;
  std::vector<int32_t> codes;
  for (const Received& r : recorder_.snapshot()) codes.push_back(r.code);
  EXPECT_EQ(codes, std::vector<int32_t>{ZUQONL_NET_INTEGRITY_OK});
}

// A negative pause is below the range and taken as its least, like 0.
TEST_F(NetworkClientTest, ANegativeReconnectPauseIsTheLeast) {
  uint16_t port = 0;
  {
    FakeServer reserved;
    port = reserved.port();
  }
  open("127.0.0.1:" + std::to_string(port), "reconnect_ms=-1\n");
  EXPECT_TRUE(waitForLog(": cannot connect: Connection refused; retrying every 10 ms\n")) << log();
  closeLibrary();
}

TEST_F(NetworkClientTest, AHostNameIsLookedUp) {
  open("localhost:" + std::to_string(server_.port()));
  std::unique_ptr<FakeLink> link = server_.accept();
  ASSERT_NE(link, nullptr);
  link->greet();
  EXPECT_TRUE(recorder_.waitFor(hasCode(ZUQONL_DS_CONNECTED)));
}

// A server whose queue of pending connections is full never answers the
// handshake: the attempt times out, and close does not wait for the next.
TEST_F(NetworkClientTest, AnUnansweredAttemptTimesOutAndCloseDoesNotWaitForIt) {
  FakeServer full(0, 0);
  testsupport::LoopbackSocket filler = testsupport::LoopbackSocket::connectTo(full.port());
  ASSERT_TRUE(filler.valid());
  open(full.address(), "reconnect_ms=600000\n");
  EXPECT_TRUE(waitForLog(": cannot connect: no answer within 2 s; retrying every 600000 ms\n"))
      << log();
  closeLibrary();
  // Closed again while an attempt hangs, most likely.
  recorder_.libraryClosed = false;
  ASSERT_EQ(zuqonlOpen(), 1);
  closeLibrary();
  filler.close();
  EXPECT_TRUE(recorder_.snapshot().empty());
}

TEST_F(NetworkClientTest, CloseWhileRowsStreamInIsFinal) {
  std::unique_ptr<FakeLink> link = connectSession();
  ASSERT_NE(link, nullptr);
  ASSERT_EQ(zuqonlOpenConnection(1, "Big", "a,b", "", "", "", 0), 1);
  link->receiveAs<protocol::Subscribe>();
  std::thread flood([&link] {
    link->send(protocol::Subscribed{1, 2});
    for (int32_t row = 1; link->sendEvent(1, EventKind::AddRow, row, {"a", "b"}); ++row) {
    }
  });
  EXPECT_TRUE(recorder_.waitFor(hasRows(1, 100)));
  closeLibrary();
  flood.join();
}

TEST_F(NetworkClientTest, CloseFromInsideTheCallbackWhileRowsStreamIn) {
  recorder_.onNotification = [this](const Received& r) {
    if (r.code == ZUQONL_ADD_ROW && r.rowId == 50) {
      zuqonlClose();
      recorder_.libraryClosed = true;
    }
  };
  std::unique_ptr<FakeLink> link = connectSession();
  ASSERT_NE(link, nullptr);
  ASSERT_EQ(zuqonlOpenConnection(1, "Big", "a", "", "", "", 0), 1);
  link->receiveAs<protocol::Subscribe>();
  link->send(protocol::Subscribed{1, 1});
  for (int32_t row = 1; row <= 200; ++row) link->sendEvent(1, EventKind::AddRow, row, {"a"});
  EXPECT_TRUE(link->closedByClient());
  EXPECT_EQ(zuqonlClose(), 1);
  const std::vector<Received> all = recorder_.snapshot();
  EXPECT_EQ(all.back().rowId, 50);
}

TEST_F(NetworkClientTest, ABadServerValueIsALogLineAndNoDataSource) {
  // The parser's cases are dataserver/host_port_test.cpp's; here, the line.
  const struct {
    std::string value, fault;
  } cases[] = {
      {"localhost", "no port"},
      {"127.0.0.1:0", "the port is not a number from 1 to 65535"},
      {"::1:7415", "an IPv6 address needs brackets, as in [::1]:7415"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    const std::string before = log();
    open(c.value);
    EXPECT_EQ(zuqonlOpenConnection(1, "T", "a", "", "", "", 0), 1);
    zuqonlClose();
    const std::string added = log().substr(before.size());
    EXPECT_EQ(added, "[zuqonl] no data source: \"server\" is '" + c.value + "', not HOST:PORT: " +
                         c.fault + " (from '" + (dir_ / "test.ini") + "')\n");
  }
  EXPECT_TRUE(recorder_.snapshot().empty());
}

}  // namespace
}  // namespace zuqonl
