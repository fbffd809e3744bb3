#include "zuqds/options.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zuqds {
namespace {

// The outcome of parsing `args` (after the program name): the options as
// one line, or the error.
std::string parse(std::vector<const char*> args) {
  args.insert(args.begin(), "zuqds");
  Options options;
  std::string err;
  if (!parseOptions(static_cast<int>(args.size()), args.data(), &options, &err)) {
    return "error: " + err;
  }
  return options.dataDir + " " + options.host + " " + std::to_string(options.port) + " " +
         std::to_string(options.limits.maxClients) + " " +
         std::to_string(options.limits.maxSubscriptions) + " " +
         std::to_string(options.limits.idleTimeout.count());
}

TEST(OptionsTest, DefaultsAndEveryOption) {
  EXPECT_EQ(parse({"--data", "d"}), "d 127.0.0.1 7415 1024 16 30000");
  EXPECT_EQ(parse({"--listen", "0.0.0.0:0", "--max-subscriptions", "3", "--data", "/t",
                   "--max-clients", "1000000", "--idle-timeout-ms", "86400000"}),
            "/t 0.0.0.0 0 1000000 3 86400000");
  EXPECT_EQ(parse({"--data", "d", "--listen", "[::1]:65535", "--idle-timeout-ms", "1"}),
            "d ::1 65535 1024 16 1");
}

TEST(OptionsTest, FaultsAreNamed) {
  EXPECT_EQ(parse({}), "error: --data is missing");
  EXPECT_EQ(parse({"--data", ""}), "error: --data needs a folder");
  EXPECT_EQ(parse({"--data"}), "error: --data needs a value");
  EXPECT_EQ(parse({"--data", "d", "--port", "1"}), "error: unknown option '--port'");
  EXPECT_EQ(parse({"d"}), "error: unknown option 'd'");
  EXPECT_EQ(parse({"--data", "d", "--data", "e"}), "error: --data given twice");
  EXPECT_EQ(parse({"--data", "d", "--max-clients", "0"}),
            "error: --max-clients needs a number from 1 to 1000000, not '0'");
  EXPECT_EQ(parse({"--data", "d", "--max-subscriptions", "-1"}),
            "error: --max-subscriptions needs a number from 1 to 1000000, not '-1'");
  for (const char* ms : {"0", "86400001", "1.5", ""}) {
    EXPECT_EQ(parse({"--data", "d", "--idle-timeout-ms", ms}),
              "error: --idle-timeout-ms needs a number from 1 to 86400000, not '" +
                  std::string(ms) + "'");
  }
  // The parser's cases are dataserver/host_port_test.cpp's; here, the message.
  EXPECT_EQ(parse({"--data", "d", "--listen", "::1:80"}),
            "error: --listen needs HOST:PORT with a numeric address, not '::1:80': an IPv6 "
            "address needs brackets, as in [::1]:7415");
  EXPECT_EQ(parse({"--data", "d", "--listen", "127.0.0.1:65536"}),
            "error: --listen needs HOST:PORT with a numeric address, not '127.0.0.1:65536': the "
            "port is not a number from 0 to 65535");
  EXPECT_EQ(parse({"--data", "d", "--listen", "localhost:7415"}),
            "error: --listen needs HOST:PORT with a numeric address, not 'localhost:7415': the "
            "host is not a numeric address");
}

TEST(OptionsTest, ClientsFitTheOpenFileLimit) {
  // A client's link and each of its subscriptions' table files.
  EXPECT_EQ(clientsForOpenFiles(1024, 16), 59u);
  EXPECT_EQ(clientsForOpenFiles(20000, 16), 1175u);
  EXPECT_EQ(clientsForOpenFiles(20000, 1), 9992u);
  EXPECT_EQ(clientsForOpenFiles(kFilesReserved + 17, 16), 1u);
  EXPECT_EQ(clientsForOpenFiles(3, 16), 1u);
  EXPECT_EQ(clientsForOpenFiles(SIZE_MAX, 64), (SIZE_MAX - kFilesReserved) / 65);
}

}  // namespace
}  // namespace zuqds
