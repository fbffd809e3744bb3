// zuqds as a process: started with a temp data folder on a free port,
// spoken to over real sockets with the protocol codec, watched through its
// log, and stopped as an operator stops it.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dataserver/protocol.h"
#include "testsupport/loopback.h"
#include "testsupport/process.h"
#include "testsupport/sanitizers.h"
#include "testsupport/temp_dir.h"
#include "zuqds/session.h"

namespace zuqds {
namespace {

namespace protocol = dataserver::protocol;
using dataserver::EventKind;
using dataserver::Subscription;
using namespace std::string_literals;

constexpr int kWaitMs = 30000;  // only reached when something is wrong

// A zuqds process, its standard output and error in files of its own folder.
class ServerProcess {
 public:
  // Starts zuqds with `args`, through the command `launcher` (a shell that
  // sets a limit first) when one is given; for a server that starts, reads
  // its first line and the port in it.
  bool start(const std::vector<std::string>& args, std::vector<std::string> launcher = {}) {
    std::string err;
    std::string program = ZUQDS_PATH;
    std::vector<std::string> all = args;
    if (!launcher.empty()) {
      program = launcher.front();
      launcher.erase(launcher.begin());
      const bool absolute = std::filesystem::path(ZUQDS_PATH).is_absolute();
      launcher.push_back(absolute ? ZUQDS_PATH
                                  : testsupport::executableFolder() + "/" + ZUQDS_PATH);
      all.insert(all.begin(), launcher.begin(), launcher.end());
    }
    const bool started =
        process_.start(program, all, output_.dir(), output_ / "out.txt", output_ / "err.txt", &err);
    EXPECT_TRUE(started) << err;
    return started;
  }

  bool startServing(const std::vector<std::string>& args,
                    const std::vector<std::string>& launcher = {}) {
    std::string line;
    if (!start(args, launcher) || !waitForLine("listening on 127.0.0.1:", &line)) return false;
    port_ = static_cast<uint16_t>(std::stoi(line.substr(line.rfind(':') + 1)));
    return true;
  }

  uint16_t port() const { return port_; }
  unsigned long pid() const { return process_.id(); }

  // Reads log lines until one contains `text`; false after kWaitMs or at
  // the end of the output.
  bool waitForLine(const std::string& text, std::string* found = nullptr) {
    for (;;) {
      const size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find(text) != std::string::npos) {
          if (found != nullptr) *found = line;
          return true;
        }
        continue;
      }
      if (!readMore()) {
        ADD_FAILURE() << "no log line with '" << text << "'";
        return false;
      }
    }
  }

  // Asks the server to stop as an operator would (on POSIX with `signal`;
  // Windows has Ctrl+Break only) and returns the exit status (-1 for a
  // death by signal).
  int stop(int signal) {
    process_.sendSignal(signal);
    return wait();
  }

  int wait() {
    if (!process_.waitFor(std::chrono::milliseconds(kWaitMs))) {
      ADD_FAILURE() << "zuqds did not end within " << kWaitMs << " ms";
      process_.kill();
    }
    return process_.exitStatus();
  }

  std::string errorOutput() {
    std::string text = output_.read("err.txt");
    std::erase(text, '\r');
    return text;
  }

  // The whole log so far.
  std::string log() { return output_.read("out.txt"); }

 private:
  // Takes in what the log file has gained; false once the process has ended
  // without more, or after kWaitMs.
  bool readMore() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
    for (;;) {
      const bool over = process_.ended() || std::chrono::steady_clock::now() > deadline;
      const std::string all = output_.read("out.txt");
      if (all.size() > consumed_) {
        pending_ += all.substr(consumed_);
        consumed_ = all.size();
        return true;
      }
      if (over) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  testsupport::TempDir output_{"zuqds-output"};
  testsupport::Process process_;
  uint16_t port_ = 0;
  size_t consumed_ = 0;
  std::string pending_;
};

// A blocking client of the protocol over a loopback socket.
class Client {
 public:
  // `receiveBuffer` > 0 shrinks the socket's receive buffer, so that a
  // client that does not read pushes back on the server sooner.
  explicit Client(uint16_t port, int receiveBuffer = 0)
      : socket_(testsupport::LoopbackSocket::connectTo(port, receiveBuffer)) {
    EXPECT_TRUE(socket_.valid());
  }

  void sendRaw(const std::string& bytes) { EXPECT_TRUE(socket_.send(bytes)); }
  void send(const protocol::Message& message) {
    std::string bytes, err;
    ASSERT_TRUE(protocol::encode(message, &bytes, &err)) << err;
    sendRaw(bytes);
  }

  // The next message; none once the server has closed the link.
  std::optional<protocol::Message> receive() {
    protocol::Message message;
    std::string fault;
    for (;;) {
      switch (decoder_.next(&message, &fault)) {
        case protocol::Decoder::Result::Message:
          return message;
        case protocol::Decoder::Result::Fault:
          ADD_FAILURE() << "malformed frame from zuqds: " << fault;
          return std::nullopt;
        case protocol::Decoder::Result::NeedMore:
          break;
      }
      char buffer[64 * 1024];
      if (!socket_.waitReadable(kWaitMs)) {
        ADD_FAILURE() << "nothing from zuqds's socket within " << kWaitMs << " ms";
        return std::nullopt;
      }
      const long size = socket_.receiveSome(buffer, sizeof buffer);
      if (size <= 0) return std::nullopt;  // closed or reset
      decoder_.feed(buffer, static_cast<size_t>(size));
    }
  }

  // The next message as a short line; "closed" once the link is closed.
  std::string next();

  // Hello, answered by Welcome.
  void greet() {
    send(protocol::Hello{protocol::kVersion, "zuqds test"});
    EXPECT_EQ(next(), "Welcome 1 zuqds");
  }

  // The lines of the messages up to and including `last`.
  std::vector<std::string> until(const std::string& last) {
    std::vector<std::string> lines;
    do {
      lines.push_back(next());
    } while (lines.back() != last && lines.back() != "closed");
    return lines;
  }

 private:
  testsupport::LoopbackSocket socket_;
  protocol::Decoder decoder_{protocol::Sender::Server};
};

std::string describeEvent(const protocol::Event& m) {
  static const char* const kNames[] = {"add",    "update", "delete",  "clear", "error",
                                       "sync",   "pause",  "ds_down", "ds_up", "net_lost",
                                       "net_ok", "code",   "end"};
  const dataserver::TableEvent& e = m.event;
  std::string out = "#" + std::to_string(m.subId) + " " + kNames[static_cast<int>(e.kind)];
  if (e.kind == EventKind::AddRow || e.kind == EventKind::UpdateRow ||
      e.kind == EventKind::DeleteRow) {
    out += " " + std::to_string(e.rowId) + " ";
    for (size_t i = 0; i < e.values.size(); ++i) out += (i > 0 ? "|" : "") + e.values[i];
  }
  if (!e.text.empty()) out += " " + e.text;
  if (e.kind == EventKind::Code) out += " " + std::to_string(e.number);
  return out;
}

std::string Client::next() {
  std::optional<protocol::Message> message = receive();
  if (!message) return "closed";
  if (const auto* event = std::get_if<protocol::Event>(&*message)) return describeEvent(*event);
  if (const auto* m = std::get_if<protocol::Welcome>(&*message)) {
    return "Welcome " + std::to_string(m->version) + " " + m->serverName;
  }
  if (const auto* m = std::get_if<protocol::Subscribed>(&*message)) {
    return "Subscribed #" + std::to_string(m->subId) + " " + std::to_string(m->columnCount);
  }
  if (const auto* m = std::get_if<protocol::Pong>(&*message)) {
    return "Pong " + std::to_string(m->token);
  }
  if (const auto* m = std::get_if<protocol::Goodbye>(&*message)) return "Goodbye " + m->reason;
  if (std::holds_alternative<protocol::DsDown>(*message)) return "DsDown";
  return "unexpected " + protocol::messageName(static_cast<uint8_t>(messageType(*message)));
}

protocol::Subscribe subscribe(uint32_t subId, const std::string& table,
                              const std::string& columns = "", bool resume = false) {
  return protocol::Subscribe{subId, resume, Subscription{table, columns, "", "", ""}};
}

// A table of `rows` rows of about 100 bytes each.
std::string bigTable(int rows) {
  std::string text = "id,payload\n";
  const std::string payload(90, 'p');
  for (int i = 1; i <= rows; ++i) text += std::to_string(i) + "," + payload + "\n";
  return text;
}

// Every message up to the subscription's End; counts the rows.
int drainRows(Client& client, uint32_t subId) {
  int rows = 0;
  for (;;) {
    std::optional<protocol::Message> message = client.receive();
    if (!message) return -1;
    const auto* event = std::get_if<protocol::Event>(&*message);
    if (event == nullptr || event->subId != subId) continue;
    if (event->event.kind == EventKind::AddRow) ++rows;
    if (event->event.kind == EventKind::End) return rows;
  }
}

class ZuqdsTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (running_) {
      EXPECT_EQ(server_.stop(SIGTERM), 0);
    }
  }

  void serve(std::vector<std::string> extra = {}, const std::vector<std::string>& launcher = {}) {
    std::vector<std::string> args = {"--data", dir_, "--listen", "127.0.0.1:0"};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(server_.startServing(args, launcher));
    running_ = true;
  }

  void write(const std::string& table, const std::string& text) {
    data_.write(table + ".csv", text);
  }

  testsupport::TempDir data_{"zuqds-data"};
  const std::string dir_ = data_.dir();
  ServerProcess server_;
  bool running_ = false;
};

TEST_F(ZuqdsTest, ServesATableWithItsColumnsRowIdsAndRange) {
  write("Trade", "@rowid,issue,price,@op\n10,A,1,\n11,C,2,\n,B,3,update\n");
  serve();
  Client client(server_.port());
  EXPECT_TRUE(server_.waitForLine("client 1 connected from 127.0.0.1:"));
  client.greet();
  EXPECT_TRUE(server_.waitForLine("client 1 is 'zuqds test', protocol 1"));
  client.send(protocol::Subscribe{7, false, {"Trade", "price,nope,issue", "issue", "A", "B"}});
  EXPECT_EQ(client.until("#7 end"),
            (std::vector<std::string>{"Subscribed #7 3", "#7 add 10 1||A", "#7 update 3 3||B",
                                      "#7 sync", "#7 end"}));
  EXPECT_TRUE(server_.waitForLine(
      "client 1 subscribes #7 to 'Trade' columns 'price,nope,issue' key 'issue' from 'A' to 'B'"));
  client.send(protocol::Ping{42});
  EXPECT_EQ(client.next(), "Pong 42");
}

TEST_F(ZuqdsTest, UnknownTablesAndMalformedFilesAreErrorEvents) {
  write("Bad", "a,b\n1,2\n\"x\n");
  serve();
  Client client(server_.port());
  client.greet();
  client.send(subscribe(1, "Nope"));
  EXPECT_EQ(client.until("#1 end"),
            (std::vector<std::string>{"#1 error unknown table 'Nope'", "#1 end"}));
  EXPECT_TRUE(server_.waitForLine("subscribes #1 to 'Nope'"));
  client.send(subscribe(1, "Bad", "b"));
  EXPECT_EQ(client.until("#1 end"),
            (std::vector<std::string>{"Subscribed #1 1", "#1 add 1 2",
                                      "#1 error Bad.csv:3: unterminated quoted field", "#1 end"}));
  // The server's folder is its own business: a client is told the table.
  std::filesystem::create_directory(dir_ + "/Folder.csv");
  client.send(subscribe(1, "Folder", "b"));
  std::vector<std::string> lines = client.until("#1 end");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].starts_with("#1 error cannot read Folder.csv: ")) << lines[0];
  EXPECT_EQ(lines[0].find(dir_), std::string::npos) << lines[0];
}

TEST_F(ZuqdsTest, ScriptedLinesActOnTheLink) {
  write("Script",
        "@op,@text,@code,v\n,,,a\nerror,oops,,\nnet_lost,gone,,\nnet_ok,back,,\n"
        "code,,-5,\nclear,,,\nds_up,,,\nstall,,,\n,,,never\n");
  serve();
  Client client(server_.port());
  client.greet();
  client.send(subscribe(3, "Script", "v", true));
  EXPECT_EQ(client.until("#3 end"),
            (std::vector<std::string>{"Subscribed #3 1", "#3 clear", "#3 add 1 a", "#3 error oops",
                                      "#3 net_lost gone", "#3 net_ok back", "#3 code -5",
                                      "#3 clear", "#3 end"}));
  // A stalled subscription stays quiet; the link goes on.
  client.send(protocol::Ping{1});
  EXPECT_EQ(client.next(), "Pong 1");
}

TEST_F(ZuqdsTest, APauseHoldsOnlyItsOwnSubscription) {
  write("Slow", "@op,@ms,v\npause,3600000,\n,,late\n");
  write("Short", "@op,@ms,v\npause,20,\n,,soon\n");
  write("Quick", "v\nx\ny\n");
  serve();
  Client client(server_.port());
  client.greet();
  client.send(subscribe(1, "Slow", "v"));
  client.send(subscribe(2, "Short", "v"));
  client.send(subscribe(3, "Quick", "v"));
  std::vector<std::string> lines = client.until("#2 end");
  std::erase_if(lines, [](const std::string& line) { return line.starts_with("#3"); });
  EXPECT_EQ(lines,
            (std::vector<std::string>{"Subscribed #1 1", "Subscribed #2 1", "Subscribed #3 1",
                                      "#2 add 1 soon", "#2 sync", "#2 end"}));
}

TEST_F(ZuqdsTest, DsDownEndsTheLinkAfterWhatCameBefore) {
  write("Down", "@op,v\n,a\nds_down,\n,b\n");
  serve();
  Client client(server_.port());
  client.greet();
  client.send(subscribe(1, "Down", "v"));
  EXPECT_EQ(client.until("closed"),
            (std::vector<std::string>{"Subscribed #1 1", "#1 add 1 a", "DsDown", "closed"}));
  EXPECT_TRUE(server_.waitForLine("dropped: data session down (ds_down in 'Down')"));
}

#ifdef __linux__
// The peak resident memory of process `pid` in KiB; -1 when unknown.
long peakResidentKiB(unsigned long pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::stol(line.substr(6));
  }
  return -1;
}
#endif

TEST_F(ZuqdsTest, ARowTooLargeForAFrameIsRefusedBeforeItIsBuilt) {
  write("Wide", "v\n" + std::string(dataserver::kMaxFieldBytes, 'x') + "\n");
  serve();
  Client client(server_.port());
  client.greet();
  std::string columns = "v";
  for (size_t i = 1; i < dataserver::kMaxColumns; ++i) columns += ",v";
  client.send(subscribe(1, "Wide", columns));
  // 1024 values of 1 MiB: 1 GiB that is never allocated.
  const std::string fault =
      "row 1 cannot be sent: Event: payload of 1073745941 bytes exceeds the limit of 8388608";
  EXPECT_EQ(client.until("#1 end"),
            (std::vector<std::string>{"Subscribed #1 1024", "#1 error " + fault, "#1 end"}));
  EXPECT_TRUE(server_.waitForLine("client 1 #1 'Wide': " + fault));
  client.send(protocol::Ping{3});
  EXPECT_EQ(client.next(), "Pong 3");
#ifdef __linux__
  const long peak = peakResidentKiB(server_.pid());
  EXPECT_GT(peak, 0);
  EXPECT_LT(peak, 256 * 1024) << "zuqds held a row it could not send";
#endif
}

TEST_F(ZuqdsTest, EachDsDownLineDropsAClientOnce) {
  write("Down", "@op,v\n,a\nds_down,\n,b\nds_down,\n,c\n");
  serve();
  // One link's messages up to the subscription's End or the link's close.
  auto link = [this](bool resume, uint32_t subId = 1) {
    Client client(server_.port());
    client.greet();
    client.send(subscribe(subId, "Down", "v", resume));
    std::vector<std::string> lines;
    do {
      lines.push_back(client.next());
    } while (lines.back() != "closed" && !lines.back().ends_with(" end"));
    return lines;
  };
  EXPECT_EQ(link(false),
            (std::vector<std::string>{"Subscribed #1 1", "#1 add 1 a", "DsDown", "closed"}));
  // The reconnect passes the line that dropped it and stops at the next.
  EXPECT_EQ(link(true), (std::vector<std::string>{"Subscribed #1 1", "#1 clear", "#1 add 1 a",
                                                  "#1 add 2 b", "DsDown", "closed"}));
  EXPECT_EQ(link(true),
            (std::vector<std::string>{"Subscribed #1 1", "#1 clear", "#1 add 1 a", "#1 add 2 b",
                                      "#1 add 3 c", "#1 sync", "#1 end"}));
  // Another subscription, and a fresh one, are dropped at the first line.
  EXPECT_EQ(link(true, 2), (std::vector<std::string>{"Subscribed #2 1", "#2 clear", "#2 add 1 a",
                                                     "DsDown", "closed"}));
  EXPECT_EQ(link(false),
            (std::vector<std::string>{"Subscribed #1 1", "#1 add 1 a", "DsDown", "closed"}));
}

TEST_F(ZuqdsTest, UnsubscribeStopsTheEvents) {
  write("Big", bigTable(20000));
  serve();
  Client client(server_.port());
  client.greet();
  client.send(subscribe(1, "Big", "payload"));
  EXPECT_EQ(client.next(), "Subscribed #1 1");
  EXPECT_TRUE(client.next().starts_with("#1 add 1 "));
  client.send(protocol::Unsubscribe{1});
  client.send(protocol::Ping{1});
  std::vector<std::string> lines = client.until("Pong 1");  // events queued before may come
  EXPECT_EQ(lines.back(), "Pong 1");
  client.send(protocol::Ping{2});
  EXPECT_EQ(client.next(), "Pong 2");
  EXPECT_TRUE(server_.waitForLine("client 1 unsubscribes #1"));
}

TEST_F(ZuqdsTest, AStalledClientHoldsUpNoOne) {
  constexpr int kRows = 150000;  // about 15 MB: more than the sockets hold
  write("Big", bigTable(kRows));
  serve();
  Client stalled(server_.port(), 4096);
  stalled.greet();
  stalled.send(subscribe(1, "Big", "id,payload"));
  EXPECT_TRUE(server_.waitForLine("client 1 subscribes #1"));

  Client reader(server_.port());
  reader.greet();
  reader.send(subscribe(5, "Big", "payload"));
  EXPECT_EQ(drainRows(reader, 5), kRows);
  Client late(server_.port());
  late.greet();
  late.send(protocol::Ping{9});
  EXPECT_EQ(late.next(), "Pong 9");
  // Held back, not lost.
  EXPECT_EQ(drainRows(stalled, 1), kRows);
}

TEST_F(ZuqdsTest, MalformedInputDropsOnlyThatClient) {
  write("Slow", "@op,@ms\npause,3600000\n");
  serve();
  Client good(server_.port());
  good.greet();
  auto frame = [](const protocol::Message& m) {
    std::string bytes, err;
    protocol::encode(m, &bytes, &err);
    return bytes;
  };
  const std::string hello = frame(protocol::Hello{1, "h"});
  const struct {
    std::string bytes;
    std::string fault;
  } cases[] = {
      {"\0\0\0\0\x7f"s, "unknown message type 0x7f"},
      {"GET / HTTP/1.1\r\n\r\n", "unknown message type 0x2f"},
      {"\0\0\0\0\x84"s, "a client does not send DsDown"},
      {"\x40\0\0\0\x02"s, "Subscribe: payload of 1073741824 bytes exceeds the limit of 262144"},
      {hello + "\0\0\0\x05\x04\0\0\0\x01\x09"s, "Ping: 1 trailing bytes after the last field"},
      {hello + "\0\0\0\x03\x04\0\0\0"s + hello,
       "truncated Ping: field 'token' needs 4 bytes, 3 remain"},
      {frame(protocol::Ping{1}), "Ping before Hello"},
      {frame(protocol::Hello{2, "future"}),
       "protocol version 2 is not supported (this server speaks 1)"},
      {hello + hello, "second Hello"},
      {hello + frame(subscribe(4, "Slow")) + frame(subscribe(4, "Slow")),
       "subscription id 4 is already in use"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fault);
    Client hostile(server_.port());
    hostile.sendRaw(c.bytes);
    std::vector<std::string> lines = hostile.until("closed");
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "Goodbye protocol error: " + c.fault);
    EXPECT_TRUE(server_.waitForLine("dropped: protocol error: " + c.fault));
    good.send(protocol::Ping{7});
    EXPECT_EQ(good.next(), "Pong 7");
  }
}

TEST_F(ZuqdsTest, ClientsAndSubscriptionsAreLimited) {
  write("Slow", "@op,@ms\npause,3600000\n");
  serve({"--max-clients", "2", "--max-subscriptions", "2"});
  auto first = std::make_unique<Client>(server_.port());
  Client second(server_.port());
  {
    Client refused(server_.port());
    EXPECT_EQ(refused.until("closed"),
              (std::vector<std::string>{"Goodbye server full (2 clients)", "closed"}));
    EXPECT_TRUE(server_.waitForLine("client 3 (127.0.0.1:"));
  }
  first.reset();  // frees a place
  EXPECT_TRUE(server_.waitForLine("client 1 (127.0.0.1:"));
  Client admitted(server_.port());
  admitted.greet();
  for (uint32_t subId : {1, 2, 3}) admitted.send(subscribe(subId, "Slow"));
  EXPECT_EQ(admitted.until("closed"),
            (std::vector<std::string>{"Subscribed #1 0", "Subscribed #2 0",
                                      "Goodbye more than 2 subscriptions", "closed"}));
  EXPECT_TRUE(server_.waitForLine("client 4 (127.0.0.1:"));
}

TEST_F(ZuqdsTest, ClientsWithoutASubscriptionAreDroppedAfterTheIdleTimeout) {
  write("Slow", "@op,@ms\npause,3600000\n");
  write("Quick", "v\nx\n");
  serve({"--idle-timeout-ms", "300"});
  Client idle(server_.port());
  idle.greet();
  // Hello and Subscribe in one write: the idle wait cannot run out between.
  Client busy(server_.port());
  std::string greetAndSubscribe, err;
  ASSERT_TRUE(
      protocol::encode(protocol::Hello{protocol::kVersion, "busy"}, &greetAndSubscribe, &err));
  ASSERT_TRUE(protocol::encode(subscribe(1, "Slow"), &greetAndSubscribe, &err));
  busy.sendRaw(greetAndSubscribe);
  EXPECT_EQ(busy.until("Subscribed #1 0"),
            (std::vector<std::string>{"Welcome 1 zuqds", "Subscribed #1 0"}));
  Client done(server_.port());
  done.greet();
  done.send(subscribe(1, "Quick", "v"));
  EXPECT_EQ(done.until("#1 end"),
            (std::vector<std::string>{"Subscribed #1 1", "#1 add 1 x", "#1 sync", "#1 end"}));
  Client failing(server_.port());
  failing.greet();
  failing.send(subscribe(1, "Nope"));  // a table that cannot be opened keeps no one

  const std::vector<std::string> dropped = {"Goodbye no subscription for 300 ms", "closed"};
  EXPECT_EQ(idle.until("closed"), dropped);
  EXPECT_EQ(done.until("closed"), dropped);
  EXPECT_EQ(failing.until("closed"),
            (std::vector<std::string>{"#1 error unknown table 'Nope'", "#1 end",
                                      "Goodbye no subscription for 300 ms", "closed"}));
  EXPECT_TRUE(server_.waitForLine("dropped: no subscription for 300 ms"));
  // One with an open subscription stays, however quiet its table.
  busy.send(protocol::Ping{5});
  EXPECT_EQ(busy.next(), "Pong 5");
  busy.send(protocol::Unsubscribe{1});
  EXPECT_EQ(busy.until("closed"), dropped);
}

// A client that subscribes and then reads nothing is dropped once its
// output has not moved for the idle timeout: such clients cannot hold every
// place for ever.
TEST_F(ZuqdsTest, ClientsThatDoNotReadAreDroppedAfterTheIdleTimeout) {
  write("Big", bigTable(150000));  // more than the sockets hold
  serve({"--idle-timeout-ms", "1000"});
  Client deaf(server_.port(), 4096);
  deaf.greet();
  deaf.send(subscribe(1, "Big", "id,payload"));
  EXPECT_TRUE(server_.waitForLine("client 1 (127.0.0.1:"));
  EXPECT_NE(server_.log().find("dropped: its output not read for 1000 ms"), std::string::npos)
      << server_.log();
  EXPECT_EQ(drainRows(deaf, 1), -1) << "the link was not closed";
  // One that reads, however slowly, keeps its link.
  Client reader(server_.port(), 4096);
  reader.greet();
  reader.send(subscribe(2, "Big", "payload"));
  EXPECT_EQ(drainRows(reader, 2), 150000);
}

// Requests that fail, each a log line, as fast as a client can send them:
// the client's lines are limited to a few a second, the rest counted, and
// the client is dropped after kMaxFailedRequests.
TEST_F(ZuqdsTest, AFloodOfFailingRequestsIsCountedAndEndsTheClient) {
  serve();
  Client flood(server_.port());
  flood.greet();
  const std::string nuls(200, '\0');
  std::string requests, err;
  for (uint32_t i = 1; i <= 2000; ++i) {
    ASSERT_TRUE(
        protocol::encode(protocol::Subscribe{i, false, Subscription{nuls, nuls, nuls, nuls, nuls}},
                         &requests, &err));
  }
  flood.sendRaw(requests);
  const std::string reason =
      "too many failed requests (" + std::to_string(kMaxFailedRequests) + ")";
  std::vector<std::string> lines = flood.until("closed");
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], "Goodbye " + reason);
  EXPECT_EQ(lines.size(), 2u * kMaxFailedRequests + 2);  // an Error and an End each
  EXPECT_TRUE(server_.waitForLine(
      "client 1: " + std::to_string(kMaxFailedRequests - kRequestLinesPerSecond) +
      " more lines of this client not logged (at most " + std::to_string(kRequestLinesPerSecond) +
      " a second)"));
  EXPECT_TRUE(server_.waitForLine("dropped: " + reason));
  const std::string log = server_.log();
  size_t subscribes = 0;
  for (size_t at = log.find(" subscribes #"); at != std::string::npos;
       at = log.find(" subscribes #", at + 1)) {
    ++subscribes;
  }
  EXPECT_EQ(subscribes, static_cast<size_t>(kRequestLinesPerSecond));
  EXPECT_LT(log.size(), 100000u);
  // Unsubscribes of ids that are not open count alike.
  Client strays(server_.port());
  strays.greet();
  std::string unsubscribes;
  for (uint32_t i = 1; i <= kMaxFailedRequests; ++i) {
    ASSERT_TRUE(protocol::encode(protocol::Unsubscribe{i}, &unsubscribes, &err));
  }
  strays.sendRaw(unsubscribes);
  EXPECT_EQ(strays.until("closed"), (std::vector<std::string>{"Goodbye " + reason, "closed"}));
}

// The bookkeeping of ds_down lines keeps a short key per subscription,
// whatever names a client sends.
TEST(DsDownMemoryTest, KeysAreShortWhateverTheClientSends) {
  const std::string name(250000, 'n');
  const std::string table(250000, 't');
  const std::string key = DsDownMemory::key("127.0.0.1", name, 7, table);
  EXPECT_LE(key.size(), DsDownMemory::kMaxKeyBytes);
  EXPECT_NE(key, DsDownMemory::key("127.0.0.1", name + "x", 7, table));
  EXPECT_NE(key, DsDownMemory::key("127.0.0.1", name, 7, table + "x"));
  EXPECT_NE(key, DsDownMemory::key("127.0.0.1", name, 8, table));
  EXPECT_NE(key, DsDownMemory::key("127.0.0.2", name, 7, table));
  EXPECT_EQ(key, DsDownMemory::key("127.0.0.1", name, 7, table));
}

#ifdef __linux__
// The resident memory of process `pid` in KiB; -1 when unknown.
long residentKiB(unsigned long pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stol(line.substr(6));
  }
  return -1;
}

// Links dropped by a ds_down line, each from a client with a name of 250 KB:
// what the server remembers of them stays small.
TEST_F(ZuqdsTest, DsDownLinesRememberLittleOfEachClient) {
#ifdef ZUQ_ALLOCATOR_SANITIZED
  GTEST_SKIP() << "a sanitizer's allocator keeps freed memory back, so the resident memory "
                  "says nothing of what the server keeps";
#endif
  write("Down", "@op,v\n,a\nds_down,\n");
  serve();
  const std::string name(250000, 'n');
  auto dropLink = [&](int i) {
    Client client(server_.port());
    client.send(protocol::Hello{protocol::kVersion, name + std::to_string(i)});
    client.send(subscribe(1, "Down", "v"));
    EXPECT_EQ(client.until("closed").back(), "closed");
  };
  for (int i = 0; i < 20; ++i) dropLink(i);  // the server's usual memory
  EXPECT_TRUE(server_.waitForLine("client 20 (127.0.0.1:"));
  const long before = residentKiB(server_.pid());
  for (int i = 20; i < 320; ++i) dropLink(i);
  EXPECT_TRUE(server_.waitForLine("client 320 (127.0.0.1:"));
  const long after = residentKiB(server_.pid());
  ASSERT_GT(before, 0);
  // 300 names of 250 KB would be 75 MB.
  EXPECT_LT(after - before, 16 * 1024) << before << " KiB before, " << after << " KiB after";
}
#endif

#ifndef _WIN32
// Each subscription holds its table file open, and counts against the
// open-file limit with its client's link: clients that hold all the
// subscriptions they may never leave the server without files, so every
// client is either served in full or told the server is full, and a place
// freed is a place a new client can use.
TEST_F(ZuqdsTest, SubscriptionsCountAgainstTheOpenFileLimit) {
  write("Slow", "@op,@ms\npause,3600000\n");
  write("Quick", "v\nx\n");
  // (200 - 16 files of the server's own) / (1 link + 16 subscriptions)
  constexpr int kServed = 10;
  serve({}, {"/bin/sh", "-c", "ulimit -n 200 && exec \"$0\" \"$@\""});
  std::vector<std::unique_ptr<Client>> hostile;
  for (int i = 0; i < kServed + 2; ++i) {
    hostile.push_back(std::make_unique<Client>(server_.port()));
    hostile.back()->send(protocol::Hello{protocol::kVersion, "greedy"});
    for (uint32_t subId = 1; subId <= 16; ++subId) hostile.back()->send(subscribe(subId, "Slow"));
  }
  for (int i = 0; i < kServed + 2; ++i) {
    SCOPED_TRACE(i);
    if (i >= kServed) {
      EXPECT_EQ(hostile[i]->next(),
                "Goodbye server full (" + std::to_string(kServed) + " clients)");
      continue;
    }
    ASSERT_EQ(hostile[i]->next(), "Welcome 1 zuqds");
    for (int subId = 1; subId <= 16; ++subId) {
      ASSERT_EQ(hostile[i]->next(), "Subscribed #" + std::to_string(subId) + " 0");
    }
  }
  hostile.front().reset();
  EXPECT_TRUE(server_.waitForLine("client 1 (127.0.0.1:"));
  Client real(server_.port());
  real.greet();
  real.send(subscribe(1, "Quick", "v"));
  EXPECT_EQ(real.until("#1 end"),
            (std::vector<std::string>{"Subscribed #1 1", "#1 add 1 x", "#1 sync", "#1 end"}));
  EXPECT_EQ(server_.log().find("accept failed"), std::string::npos) << server_.log();
}

// zuqds started with a low soft limit of open files raises it to the hard
// one, so that more clients than the low limit allows are all served.

TEST_F(ZuqdsTest, TheOpenFileLimitIsRaisedAndSizesTheClients) {
  constexpr int kClients = 100;
  rlimit inherited{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &inherited), 0);
  if (inherited.rlim_max != RLIM_INFINITY && inherited.rlim_max < 2 * kClients + 64) {
    GTEST_SKIP() << "the hard limit of open files is too low for this test";
  }
  rlimit low = inherited;
  low.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
  serve();
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &inherited), 0);
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::make_unique<Client>(server_.port()));
    clients.back()->send(protocol::Hello{protocol::kVersion, "many"});
  }
  for (int i = 0; i < kClients; ++i) {
    ASSERT_EQ(clients[i]->next(), "Welcome 1 zuqds") << "client " << i + 1;
  }
}
#endif

// A client limit beyond what the open files serve is brought down to it, and
// the line that says so names the limit as the system does: there is no
// ulimit on Windows, where the C runtime's number of files counts.
TEST_F(ZuqdsTest, AClientLimitBeyondTheOpenFilesIsBroughtDown) {
  ServerProcess capped;
  ASSERT_TRUE(
      capped.start({"--data", dir_, "--listen", "127.0.0.1:0", "--max-clients", "1000000"}));
  std::string line;
  EXPECT_TRUE(capped.waitForLine(" clients: ", &line));
#ifdef _WIN32
  EXPECT_NE(line.find(" clients: the C runtime opens at most "), std::string::npos) << line;
#else
  EXPECT_NE(line.find(" clients: the open-file limit is "), std::string::npos) << line;
#endif
  EXPECT_NE(line.find(", and each client may hold 17 files (its link and one per subscription)"),
            std::string::npos)
      << line;
  EXPECT_TRUE(capped.waitForLine("listening on "));
  EXPECT_EQ(capped.stop(SIGTERM), 0);
}

#ifndef _WIN32
// A stdout that nobody reads (a pipe whose reader sleeps) holds up no
// client: the log's lines wait in a bounded queue of their own, the lines
// beyond it are dropped and counted, and the server still stops when asked.
TEST_F(ZuqdsTest, AStdoutNobodyReadsHoldsUpNoClient) {
  testsupport::TempDir pipeDir("zuqds-pipe");
  const std::string fifo = pipeDir / "log";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int logReader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(logReader, 0);
  const uint16_t port = testsupport::unusedLoopbackPort();
  testsupport::Process zuqds;
  std::string err;
  ASSERT_TRUE(zuqds.start(ZUQDS_PATH,
                          {"--data", dir_, "--listen", "127.0.0.1:" + std::to_string(port)},
                          pipeDir.dir(), fifo, pipeDir / "err.txt", &err))
      << err;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitMs);
  while (!testsupport::LoopbackSocket::connectTo(port).valid()) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "zuqds did not listen";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // 20 clients, 20 failing requests each of about 4 KB of log: 1.6 MB, far
  // more than the pipe and the queue hold. Every request is answered.
  auto flood = [port] {
    const std::string nuls(200, '\0');
    for (int c = 0; c < 20; ++c) {
      Client client(port);
      client.greet();
      for (uint32_t i = 1; i <= 20; ++i) {
        client.send(protocol::Subscribe{i, false, Subscription{nuls, nuls, nuls, nuls, nuls}});
        const std::string line = client.next();
        ASSERT_TRUE(line.starts_with("#" + std::to_string(i) + " error unknown table")) << line;
        ASSERT_EQ(client.next(), "#" + std::to_string(i) + " end");
      }
    }
  };
  flood();
  Client last(port);
  last.greet();
  last.send(protocol::Ping{11});
  EXPECT_EQ(last.next(), "Pong 11");

  // Once stdout takes lines again, the number dropped is logged.
  std::string log;
  const std::string dropped = " log lines dropped: standard output did not take them in time\n";
  for (char buffer[65536]; log.find(dropped) == std::string::npos;) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << log.size() << " bytes read";
    const ssize_t size = read(logReader, buffer, sizeof buffer);
    if (size > 0) log.append(buffer, static_cast<size_t>(size));
    if (size <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // Stopped while stdout takes nothing, the server ends all the same.
  flood();
  zuqds.requestStop();
  EXPECT_TRUE(zuqds.waitFor(std::chrono::milliseconds(kWaitMs)));
  EXPECT_EQ(zuqds.exitStatus(), 0);
  close(logReader);
}
#endif

// An operator's stop: SIGTERM or SIGINT on POSIX, Ctrl+Break on Windows
// (through the stop event where no console carries it).
TEST_F(ZuqdsTest, SignalsEndTheServerWithItsClients) {
  write("Big", bigTable(100000));
#ifdef _WIN32
  const std::vector<int> signals = {SIGTERM};
#else
  const std::vector<int> signals = {SIGTERM, SIGINT};
#endif
  for (int signal : signals) {
    ServerProcess server;
    ASSERT_TRUE(server.startServing({"--data", dir_, "--listen", "127.0.0.1:0"}));
    Client stalled(server.port(), 4096);
    stalled.greet();
    stalled.send(subscribe(1, "Big", "payload"));
    Client idle(server.port());
    EXPECT_TRUE(server.waitForLine("client 1 subscribes #1"));
    EXPECT_EQ(server.stop(signal), 0);
#ifdef _WIN32
    EXPECT_TRUE(server.waitForLine("stopping on "));
#else
    EXPECT_TRUE(server.waitForLine("stopping on signal " + std::to_string(signal)));
#endif
    EXPECT_TRUE(server.waitForLine("disconnected: server stopping"));
    EXPECT_TRUE(server.waitForLine("stopped"));
  }
}

TEST_F(ZuqdsTest, BadArgumentsGiveTheUsageAndStatus2) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, {"--data", dir_, "--listen", "nowhere"}, {"--verbose"}}) {
    ServerProcess server;
    ASSERT_TRUE(server.start(args));
    EXPECT_EQ(server.wait(), 2);
    EXPECT_NE(server.errorOutput().find("usage: zuqds --data DIR"), std::string::npos);
  }
  ServerProcess server;
  ASSERT_TRUE(server.start({"--data", dir_ + "/missing"}));
  EXPECT_EQ(server.wait(), 1);
  EXPECT_NE(server.errorOutput().find("zuqds: data folder '" + dir_ + "/missing' cannot be read"),
            std::string::npos);
}

TEST_F(ZuqdsTest, VersionIsTheProjectVersion) {
  ServerProcess server;
  ASSERT_TRUE(server.start({"--version"}));
  EXPECT_EQ(server.wait(), 0);
  EXPECT_TRUE(server.waitForLine(std::string("zuqds ") + ZUQ_VERSION));
}

}  // namespace
}  // namespace zuqds
