#include "zuqds/options.h"

#include <asio/ip/address.hpp>
#include <charconv>
#include <set>

#include "dataserver/host_port.h"

namespace zuqds {

const char kUsage[] =
    "usage: zuqds --data DIR [--listen HOST:PORT] [--max-clients N] [--max-subscriptions N]\n"
    "             [--idle-timeout-ms N]\n"
    "  --data DIR               serve table T from file DIR/T.csv\n"
    "  --listen HOST:PORT       numeric address to listen on (default 127.0.0.1:7415;\n"
    "                           [::1]:PORT for IPv6; port 0 picks a free one)\n"
    "  --max-clients N          clients connected at once (default 1024; never more\n"
    "                           than the open-file limit serves: each client takes\n"
    "                           one file for its link and one per subscription)\n"
    "  --max-subscriptions N    subscriptions open at once per client (default 16)\n"
    "  --idle-timeout-ms N      drop a client that has no subscription open, or\n"
    "                           has not read what it was sent, for N milliseconds\n"
    "                           (default 30000)\n";

namespace {

constexpr uint64_t kMaxIdleMs = 24 * 60 * 60 * 1000;

bool parseNumber(const std::string& text, uint64_t max, uint64_t* value) {
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, *value);
  return !text.empty() && ec == std::errc() && stop == end && *value <= max;
}

bool isNumericAddress(const std::string& host) {
  asio::error_code error;
  asio::ip::make_address(host, error);
  return !error;
}

bool parseLimit(const std::string& option, const std::string& text, size_t* limit,
                std::string* err) {
  uint64_t value = 0;
  if (!parseNumber(text, 1000000, &value) || value == 0) {
    *err = option + " needs a number from 1 to 1000000, not '" + text + "'";
    return false;
  }
  *limit = value;
  return true;
}

bool applyOption(const std::string& option, const std::string& value, Options* options,
                 std::string* err) {
  if (option == "--data") {
    options->dataDir = value;
    if (!value.empty()) return true;
    *err = "--data needs a folder";
    return false;
  }
  if (option == "--listen") return parseListen(value, &options->host, &options->port, err);
  if (option == "--max-clients") {
    return parseLimit(option, value, &options->limits.maxClients, err);
  }
  if (option == "--idle-timeout-ms") {
    uint64_t ms = 0;
    if (!parseNumber(value, kMaxIdleMs, &ms) || ms == 0) {
      *err = option + " needs a number from 1 to " + std::to_string(kMaxIdleMs) + ", not '" +
             value + "'";
      return false;
    }
    options->limits.idleTimeout = std::chrono::milliseconds(ms);
    return true;
  }
  return parseLimit(option, value, &options->limits.maxSubscriptions, err);
}

}  // namespace

size_t clientsForOpenFiles(size_t openFiles, size_t maxSubscriptions) {
  const size_t perClient = 1 + maxSubscriptions;
  if (openFiles < kFilesReserved + perClient) return 1;
  return (openFiles - kFilesReserved) / perClient;
}

bool parseListen(const std::string& text, std::string* host, uint16_t* port, std::string* err) {
  dataserver::HostPort address;
  std::string fault;
  if (dataserver::parseHostPort(text, dataserver::PortZero::Allowed, &address, &fault) &&
      !isNumericAddress(address.host)) {
    fault = "the host is not a numeric address";
  }
  if (!fault.empty()) {
    *err = "--listen needs HOST:PORT with a numeric address, not '" + text + "': " + fault;
    return false;
  }
  *host = address.host;
  *port = address.port;
  return true;
}

bool parseOptions(int argc, const char* const* argv, Options* options, std::string* err) {
  static const std::set<std::string> kKnown = {"--data", "--listen", "--max-clients",
                                               "--max-subscriptions", "--idle-timeout-ms"};
  std::set<std::string> seen;
  for (int i = 1; i < argc; i += 2) {
    const std::string option = argv[i];
    if (kKnown.count(option) == 0) {
      *err = "unknown option '" + option + "'";
      return false;
    }
    if (!seen.insert(option).second) {
      *err = option + " given twice";
      return false;
    }
    if (i + 1 >= argc) {
      *err = option + " needs a value";
      return false;
    }
    if (!applyOption(option, argv[i + 1], options, err)) return false;
  }
  if (options->dataDir.empty()) {
    *err = "--data is missing";
    return false;
  }
  return true;
}

}  // namespace zuqds
