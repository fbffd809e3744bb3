// The real program and the real library against a real zuqds over
// loopback: lost, restarted, stalled and hostile data servers, and many
// programs at once. Each report is compared with the one the embedded data
// server gives for the same table and options.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "dataserver/protocol.h"
#include "e2e_support.h"
#include "testsupport/loopback.h"
#include "testsupport/process.h"
#include "testsupport/sanitizers.h"
#include "testsupport/temp_dir.h"

namespace e2e {
namespace {

using testsupport::TempDir;
using Rows = std::vector<TableRow>;

// The waits of a run that is to fail: 1 s for the server, 10 s for the table.
// A run that is to succeed gets longer ones, which it never sits out, so
// that a loaded machine does not fail it.
const std::string kShortWaits = "sync_timeout=1\r\n";
// The selection and the format of the reports.
const std::string kReportOptions =
    "trade_issue=XYZ1\r\ntrade_participant=F1\r\nprint_header=1\r\nfield_delimeter=|\r\n";
// The library retries quickly, so that a restarted server is found soon.
const std::string kQuickReconnect = "reconnect_ms=50\r\n";

// `rows` trades of issue XYZ1, half of them of firm F1, with a pause of an
// hour after row `pauseAfter` (0: none) and then `tail` as further lines.
std::string tradeTable(int rows, int pauseAfter = 0, const Rows& tail = {}) {
  Rows lines;
  for (int i = 1; i <= rows; ++i) {
    lines.push_back(trade({{"rev", std::to_string(1000 + (i * 7919) % rows)},
                           {"init_name", i % 2 ? "F1" : "F3"},
                           {"price", std::to_string(100 + i) + ".25"},
                           {"init_memo", "memo, \"quoted\" " + std::to_string(i)}}));
    if (i == pauseAfter) lines.push_back({{"@op", "pause"}, {"@ms", "3600000"}});
  }
  lines.insert(lines.end(), tail.begin(), tail.end());
  return tableFile(tradeColumns(), lines);
}

// zuqds serving the folder `dataDir` of `box` on 127.0.0.1.
class DataServer {
 public:
  // Listens on `port`; 0 picks a free one.
  DataServer(const TempDir& box, const std::string& dataDir, uint16_t port = 0)
      : process_(ZUQDS_PATH,
                 {"--data", box / dataDir, "--listen", "127.0.0.1:" + std::to_string(port)},
                 box.dir(), ".zuqds-" + dataDir + "-output") {
    const std::string prefix = "listening on 127.0.0.1:";
    if (!process_.waitForOutput(prefix)) {
      ADD_FAILURE() << "zuqds did not start: " << process_.output();
      return;
    }
    const std::string output = process_.output();
    port_ = static_cast<uint16_t>(std::stoi(output.substr(output.find(prefix) + prefix.size())));
  }

  uint16_t port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  void kill() { process_.kill(); }

 private:
  BackgroundProcess process_;
  uint16_t port_ = 0;
};

// The report the embedded data server gives for data/Trade.csv and
// `options`, its header's time stamp masked.
std::string embeddedReport(const TempDir& box, const std::string& options) {
  box.write("embedded.ini", iniFile(options + "report_file=embedded.txt\r\n"));
  const RunResult run = runReport(box, "embedded.ini");
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  return maskHeaderStamp(box.read("embedded.txt"));
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

TEST(NetworkE2eTest, NoServerListeningIsCantConnectAndLeavesTheOldReport) {
  TempDir box;
  const std::string server = "127.0.0.1:" + std::to_string(testsupport::unusedLoopbackPort());
  box.write("test.ini", networkIniFile(server, kShortWaits + "report_file=report.txt\r\n"));
  box.write("report.txt", "an earlier report\r\n");
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't connect to DS: timeout expired (1 sec)"))
      << run.log;
  EXPECT_NE(run.log.find("[zuqonl] data server " + server + ": cannot connect: "),
            std::string::npos)
      << run.log;
  EXPECT_EQ(run.log.find("DS Connected"), std::string::npos);
  EXPECT_EQ(box.read("report.txt"), "an earlier report\r\n");
}

TEST(NetworkE2eTest, AServerKilledMidTableIsDsDisconnectedAndNoReport) {
  TempDir box;
  box.write("data/Trade.csv", tradeTable(2000, 1000));
  DataServer zuqds(box, "data");
  box.write("test.ini",
            networkIniFile(zuqds.address(), kShortWaits + kReportOptions, kQuickReconnect));
  BackgroundProcess program(ZUQ_PROGRAM_PATH, {"test.ini"}, box.dir(), ".program-output");
  ASSERT_TRUE(program.waitForOutput("AddRow conn=1, rowID=1000\n")) << program.output();
  zuqds.kill();

  const RunResult run = program.wait();
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] NetIntegrityLost")) << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] DS Disconnected")) << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't receive records: timeout expired (1 sec)"))
      << run.log;
  EXPECT_EQ(run.log.find("rowID=1001\n"), std::string::npos);
  EXPECT_EQ(run.log.find("Sychronized"), std::string::npos);
  EXPECT_FALSE(box.exists("ZUQTradeReport.txt"));
}

// Runs the program against a zuqds serving paused/Trade.csv, which pauses
// after row 500; there the server dies and a new one serving data/Trade.csv
// takes its port. The library finds it and the table comes again from a
// Clear. The report goes to network.txt.
RunResult runAcrossARestart(const TempDir& box, const std::string& options) {
  auto first = std::make_unique<DataServer>(box, "paused");
  const uint16_t port = first->port();
  box.write("test.ini", networkIniFile(first->address(), options + "report_file=network.txt\r\n",
                                       kQuickReconnect));
  BackgroundProcess program(ZUQ_PROGRAM_PATH, {"test.ini"}, box.dir(), ".program-output");
  EXPECT_TRUE(program.waitForOutput("AddRow conn=1, rowID=500\n")) << program.output();
  first->kill();
  EXPECT_TRUE(program.waitForOutput("[ZUQTradeReport] DS Disconnected\n")) << program.output();
  DataServer second(box, "data", port);
  return program.wait();
}

TEST(NetworkE2eTest, AServerRestartedDuringTheWaitDeliversTheWholeTableAgain) {
  TempDir box;
  box.write("data/Trade.csv", tradeTable(1000));
  box.write("paused/Trade.csv", tradeTable(1000, 500));
  const std::string options = "sync_timeout=10\r\n" + kReportOptions;
  const std::string expected = embeddedReport(box, options);

  const RunResult run = runAcrossARestart(box, options);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(occurrences(run.log, "[ZUQTradeReport] DS Connected\n"), 2u) << run.log;
  EXPECT_EQ(occurrences(run.log, "[ZUQTradeReport] Clear conn=1\n"), 1u);
  EXPECT_EQ(occurrences(run.log, "[ZUQTradeReport] Sychronized conn=1\n"), 1u);
  EXPECT_EQ(occurrences(run.log, "AddRow conn=1, rowID=500\n"), 2u);
  EXPECT_EQ(occurrences(run.log, "AddRow conn=1, rowID=1000\n"), 1u);
  EXPECT_EQ(maskHeaderStamp(box.read("network.txt")), expected);
}

// A scripted drop: the library reconnects, the table comes again from a
// Clear and passes the line that dropped it, and the run completes.
TEST(NetworkE2eTest, ADsDownLineDropsTheLinkOnceAndTheRunCompletes) {
  TempDir box;
  const Rows tail = {trade({{"rev", "5000"}, {"init_name", "F1"}})};
  box.write("data/Trade.csv", tradeTable(400, 0, tail));
  box.write("dropping/Trade.csv", tradeTable(400, 0, Rows{{{"@op", "ds_down"}}, tail[0]}));
  const std::string options = "sync_timeout=10\r\n" + kReportOptions;
  const std::string expected = embeddedReport(box, options);

  DataServer zuqds(box, "dropping");
  box.write("test.ini", networkIniFile(zuqds.address(), options + "report_file=network.txt\r\n",
                                       kQuickReconnect));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(occurrences(run.log, "[ZUQTradeReport] DS Disconnected\n"), 1u) << run.log;
  EXPECT_EQ(occurrences(run.log, "[ZUQTradeReport] DS Connected\n"), 2u);
  EXPECT_EQ(occurrences(run.log, "[ZUQTradeReport] Clear conn=1\n"), 1u);
  EXPECT_EQ(occurrences(run.log, "[ZUQTradeReport] Sychronized conn=1\n"), 1u);
  EXPECT_EQ(occurrences(run.log, "AddRow conn=1, rowID=400\n"), 2u);
  EXPECT_EQ(occurrences(run.log, "AddRow conn=1, rowID=401\n"), 1u);
  EXPECT_EQ(maskHeaderStamp(box.read("network.txt")), expected);
}

// The table has changed meanwhile (trades gone, others under new revisions):
// the report is the new table's alone, nothing of the first delivery stays.
TEST(NetworkE2eTest, AServerRestartedWithAChangedTableGivesTheNewTablesReport) {
  TempDir box;
  box.write("data/Trade.csv", tradeTable(800));
  box.write("paused/Trade.csv", tradeTable(1000, 500));
  const std::string options = "sync_timeout=10\r\n" + kReportOptions;
  const std::string expected = embeddedReport(box, options);

  const RunResult run = runAcrossARestart(box, options);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Clear conn=1")) << run.log;
  EXPECT_EQ(maskHeaderStamp(box.read("network.txt")), expected);
}

TEST(NetworkE2eTest, AStalledServerIsCantReceiveRecords) {
  TempDir box;
  box.write("data/Trade.csv", tradeTable(10, 0, {{{"@op", "stall"}}, trade({{"rev", "99"}})}));
  DataServer zuqds(box, "data");
  box.write("test.ini", networkIniFile(zuqds.address(), kShortWaits + kReportOptions));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 2);
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't receive records: timeout expired (1 sec)"))
      << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] AddRow conn=1, rowID=10")) << run.log;
  EXPECT_EQ(run.log.find("rowID=11"), std::string::npos);
  EXPECT_FALSE(box.exists("ZUQTradeReport.txt"));
}

TEST(NetworkE2eTest, TwentyProgramsAtOnceGetTheSameReport) {
  constexpr int kPrograms = 20;
  TempDir box;
  box.write("data/Trade.csv", tradeTable(300));
  const std::string options = "sync_timeout=30\r\n" + kReportOptions;
  const std::string expected = embeddedReport(box, options);
  DataServer zuqds(box, "data");

  std::vector<std::unique_ptr<BackgroundProcess>> programs;
  for (int i = 0; i < kPrograms; ++i) {
    const std::string name = "run" + std::to_string(i);
    box.write(name + ".ini",
              networkIniFile(zuqds.address(), options + "report_file=" + name + ".txt\r\n"));
    programs.push_back(std::make_unique<BackgroundProcess>(
        ZUQ_PROGRAM_PATH, std::vector<std::string>{name + ".ini"}, box.dir(), "." + name));
  }
  for (int i = 0; i < kPrograms; ++i) {
    SCOPED_TRACE(i);
    const RunResult run = programs[i]->wait();
    EXPECT_EQ(run.exitStatus, 0) << run.log;
    EXPECT_EQ(maskHeaderStamp(box.read("run" + std::to_string(i) + ".txt")), expected);
  }
}

// A server that answers every link with bytes that are no frame.
class HostileServer {
 public:
  HostileServer() : thread_([this] { serve(); }) {}
  ~HostileServer() {
    stop_ = true;
    thread_.join();
  }
  std::string address() const { return listener_.address(); }
  int links() const { return links_; }

 private:
  void serve() {
    static const char kGarbage[] = "\x00\x00\x00\x00\x7fgarbage\xff\xfe";
    while (!stop_) {
      testsupport::LoopbackSocket link = listener_.accept(20);
      if (!link.valid()) continue;
      link.send(std::string(kGarbage, sizeof kGarbage - 1));
      ++links_;
      // Closed only once the client has closed: it is the client's fault to find.
      char sink[256];
      while (!stop_) {
        if (link.waitReadable(20) && link.receiveSome(sink, sizeof sink) <= 0) break;
      }
    }
  }

  testsupport::LoopbackListener listener_;
  std::atomic<bool> stop_{false};
  std::atomic<int> links_{0};
  std::thread thread_;
};

TEST(NetworkE2eTest, AHostileServerIsALogLineAndNeverAConnectedServer) {
  TempDir box;
  HostileServer hostile;
  box.write("test.ini",
            networkIniFile(hostile.address(), kShortWaits + "report_file=report.txt\r\n",
                           kQuickReconnect));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 1) << run.log;
  EXPECT_TRUE(run.hasLine("[zuqonl] data server " + hostile.address() +
                          ": malformed frame: unknown message type 0x7f, link closed"))
      << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] NetIntegrityLost")) << run.log;
  EXPECT_TRUE(run.hasLine("[ZUQTradeReport] Can't connect to DS: timeout expired (1 sec)"))
      << run.log;
  EXPECT_EQ(run.log.find("DS Connected"), std::string::npos);
  EXPECT_GE(hostile.links(), 2) << "the library came back after the first link";
  EXPECT_FALSE(box.exists("report.txt"));
}

#ifndef _WIN32
// Clients that each do one of the things that used to cost a server its
// service, all at once against one zuqds, whose standard output is moreover
// a pipe that nobody reads: 250 that hold all the subscriptions they may
// (each a table file held open), 250 that subscribe to a large table and
// never read, 250 that greet and then say nothing, and 250 at a time that
// flood the server with failing requests (each a log line), dropped and
// coming back for as long as the program runs. The program still gets its
// report, the same as from the embedded data server.
TEST(NetworkE2eTest, AProgramGetsItsReportWhileAThousandHostileClientsAreConnected) {
#ifdef ZUQ_ALLOCATOR_SANITIZED
  // What this measures is the server's capacity, which a sanitizer's
  // several-fold slower server does not have; the hostile clients' kinds are
  // each tested on their own under it.
  GTEST_SKIP() << "a capacity test, not run under a sanitizer";
#endif
  constexpr int kEachKind = 250;
  TempDir box;
  box.write("data/Trade.csv", tradeTable(300));
  box.write("data/Slow.csv", "@op,@ms\npause,3600000\n");
  std::string big = "id,payload\n";
  for (int i = 1; i <= 5000; ++i) big += std::to_string(i) + "," + std::string(90, 'p') + "\n";
  box.write("data/Big.csv", big);
  const std::string options = "sync_timeout=30\r\n" + kReportOptions;
  const std::string expected = embeddedReport(box, options);

  // Standard output: a pipe whose reader never reads.
  const std::string fifo = box / "zuqds.log";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const int logReader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(logReader, 0);
  const uint16_t port = testsupport::unusedLoopbackPort();
  testsupport::Process zuqds;
  std::string err;
  ASSERT_TRUE(zuqds.start(ZUQDS_PATH,
                          {"--data", box / "data", "--listen", "127.0.0.1:" + std::to_string(port),
                           "--max-clients", "1100"},
                          box.dir(), fifo, box / "zuqds.err", &err))
      << err;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!testsupport::LoopbackSocket::connectTo(port).valid()) {
    ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "zuqds did not listen";
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  auto frames = [](const std::vector<dataserver::protocol::Message>& messages) {
    std::string bytes, err;
    for (const auto& message : messages) dataserver::protocol::encode(message, &bytes, &err);
    return bytes;
  };
  using dataserver::protocol::Hello;
  using dataserver::protocol::Subscribe;
  const Hello hello{dataserver::protocol::kVersion, "hostile"};
  std::vector<dataserver::protocol::Message> greedy = {hello};
  for (uint32_t i = 1; i <= 16; ++i)
    greedy.push_back(Subscribe{i, false, {"Slow", "", "", "", ""}});
  const std::string nuls(200, '\0');
  std::vector<dataserver::protocol::Message> failing = {hello};
  for (uint32_t i = 1; i <= 120; ++i) {
    failing.push_back(Subscribe{i, false, {nuls, nuls, nuls, nuls, nuls}});
  }
  const std::string greedyBytes = frames(greedy);
  const std::string deafBytes =
      frames({hello, Subscribe{1, false, {"Big", "id,payload", "", "", ""}}});
  const std::string silentBytes = frames({hello});
  const std::string floodBytes = frames(failing);

  std::vector<testsupport::LoopbackSocket> hostile;
  for (int i = 0; i < kEachKind; ++i) {
    for (const std::string* bytes : {&greedyBytes, &deafBytes, &silentBytes}) {
      hostile.push_back(
          testsupport::LoopbackSocket::connectTo(port, bytes == &deafBytes ? 4096 : 0));
      ASSERT_TRUE(hostile.back().valid());
      ASSERT_TRUE(hostile.back().send(*bytes));
    }
  }
  std::atomic<bool> stop{false};
  std::atomic<int> floods{0};
  std::thread flooder([&] {
    std::vector<testsupport::LoopbackSocket> links(kEachKind);
    char sink[65536];
    for (size_t i = 0; !stop; i = (i + 1) % links.size()) {
      if (i == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      // Each link is dropped after its failing requests: another comes.
      if (links[i].valid()) {
        if (!links[i].waitReadable(0)) continue;
        if (links[i].receiveSome(sink, sizeof sink) > 0) continue;
      }
      links[i] = testsupport::LoopbackSocket::connectTo(port);
      if (links[i].valid() && links[i].send(floodBytes)) ++floods;
    }
  });

  box.write("test.ini", networkIniFile("127.0.0.1:" + std::to_string(port),
                                       options + "report_file=network.txt\r\n"));
  const RunResult run = runReport(box);
  stop = true;
  flooder.join();
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_EQ(maskHeaderStamp(box.read("network.txt")), expected);
  EXPECT_GE(floods.load(), kEachKind);
  zuqds.requestStop();
  EXPECT_TRUE(zuqds.waitFor(std::chrono::seconds(30)));
  EXPECT_EQ(zuqds.exitStatus(), 0);
  close(logReader);
}
#endif

namespace protocol = dataserver::protocol;

// A server that delivers "Trade" over two links: on the first a row that is
// gone by the second (stale), then the link drops; on the second, where the
// library resumes the subscription, the table from its start without a Clear
// of its own (fresh), then Synchronized.
class ResumingServerWithoutClear {
 public:
  ResumingServerWithoutClear() : thread_([this] { serve(); }) {}
  ~ResumingServerWithoutClear() {
    stop_ = true;
    thread_.join();
  }
  std::string address() const { return listener_.address(); }
  bool resumed() const { return resumed_; }

 private:
  // The next message of the client, or nothing once it is gone.
  std::optional<protocol::Message> receive(testsupport::LoopbackSocket& link,
                                           protocol::Decoder& decoder) {
    for (;;) {
      protocol::Message message;
      std::string fault;
      const auto result = decoder.next(&message, &fault);
      if (result == protocol::Decoder::Result::Message) return message;
      if (result == protocol::Decoder::Result::Fault) return std::nullopt;
      char buffer[4096];
      while (!link.waitReadable(20)) {
        if (stop_) return std::nullopt;
      }
      const long size = link.receiveSome(buffer, sizeof buffer);
      if (size <= 0) return std::nullopt;
      decoder.feed(buffer, static_cast<size_t>(size));
    }
  }

  static void send(testsupport::LoopbackSocket& link, const protocol::Message& message) {
    std::string frame, err;
    if (protocol::encode(message, &frame, &err)) link.send(frame);
  }

  // A row of firm F1 under revision `rev` with the memo `memo`, its values
  // in the order of the columns the program asks for.
  static protocol::Event row(uint32_t subId, int32_t rowId, const std::string& rev,
                             const std::string& memo) {
    std::vector<std::string> values(28);
    values[0] = rev;
    values[1] = "F1";
    values[4] = memo;
    values[10] = "2";
    return protocol::Event{subId, dataserver::TableEvent{dataserver::EventKind::AddRow, rowId,
                                                         std::move(values), "", 0}};
  }

  void serve() {
    for (int linkNumber = 1; linkNumber <= 2 && !stop_;) {
      testsupport::LoopbackSocket link = listener_.accept(20);
      if (!link.valid()) continue;
      protocol::Decoder decoder(protocol::Sender::Client);
      if (!receive(link, decoder)) continue;  // Hello
      send(link, protocol::Welcome{protocol::kVersion, "resuming"});
      const auto subscribe = receive(link, decoder);
      if (!subscribe || !std::holds_alternative<protocol::Subscribe>(*subscribe)) continue;
      const protocol::Subscribe& request = std::get<protocol::Subscribe>(*subscribe);
      send(link, protocol::Subscribed{request.subId, 28});
      if (linkNumber == 1) {
        send(link, row(request.subId, 1, "1", "stale"));
        send(link, row(request.subId, 2, "2", "stale"));
      } else {
        resumed_ = request.resume;
        send(link, row(request.subId, 2, "2", "fresh"));
        send(link, protocol::Event{
                       request.subId,
                       dataserver::TableEvent{dataserver::EventKind::Synchronized, 0, {}, "", 0}});
        while (receive(link, decoder)) {
        }
      }
      ++linkNumber;
    }
  }

  testsupport::LoopbackListener listener_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> resumed_{false};
  std::thread thread_;
};

// The table delivered again after a lost link, by a server that sends no
// Clear first: the report holds the second delivery alone, no row of the
// first.
TEST(NetworkE2eTest, AResumedTableWithoutTheServersClearKeepsNoStaleRows) {
  TempDir box;
  ResumingServerWithoutClear server;
  box.write("test.ini",
            networkIniFile(server.address(),
                           "sync_timeout=10\r\ntrade_participant=F1\r\nreport_file=r.txt\r\n",
                           kQuickReconnect));
  const RunResult run = runReport(box);
  EXPECT_EQ(run.exitStatus, 0) << run.log;
  EXPECT_TRUE(server.resumed());
  EXPECT_EQ(occurrences(run.log, "[ZUQTradeReport] Clear conn=1\n"), 1u) << run.log;
  const std::string report = box.read("r.txt");
  EXPECT_EQ(occurrences(report, "\r\n"), 1u) << report;
  EXPECT_NE(report.find(";fresh\r\n"), std::string::npos) << report;
  EXPECT_EQ(report.find("stale"), std::string::npos) << report;
}

}  // namespace
}  // namespace e2e
