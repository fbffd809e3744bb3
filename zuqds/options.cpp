#include "zuqds/options.h"

#ifdef _WIN32
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <charconv>
#include <set>

namespace zuqds {

const char kUsage[] =
    "usage: zuqds --data DIR [--listen HOST:PORT] [--max-clients N] [--max-subscriptions N]\n"
    "  --data DIR               serve table T from file DIR/T.csv\n"
    "  --listen HOST:PORT       numeric address to listen on (default 127.0.0.1:7415;\n"
    "                           [::1]:PORT for IPv6; port 0 picks a free one)\n"
    "  --max-clients N          clients connected at once (default 1024)\n"
    "  --max-subscriptions N    subscriptions open at once per client (default 64)\n";

namespace {

bool parseNumber(const std::string& text, uint64_t max, uint64_t* value) {
  const char* end = text.data() + text.size();
  auto [stop, ec] = std::from_chars(text.data(), end, *value);
  return !text.empty() && ec == std::errc() && stop == end && *value <= max;
}

bool isNumericAddress(const std::string& host) {
  unsigned char bytes[16];
  return inet_pton(AF_INET, host.c_str(), bytes) == 1 ||
         inet_pton(AF_INET6, host.c_str(), bytes) == 1;
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
  return parseLimit(option, value, &options->limits.maxSubscriptions, err);
}

}  // namespace

bool parseListen(const std::string& text, std::string* host, uint16_t* port, std::string* err) {
  const size_t colon = text.rfind(':');
  std::string address = colon == std::string::npos ? "" : text.substr(0, colon);
  if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
    address = address.substr(1, address.size() - 2);
  }
  uint64_t number = 0;
  if (colon == std::string::npos || !isNumericAddress(address) ||
      !parseNumber(text.substr(colon + 1), 65535, &number)) {
    *err = "--listen needs HOST:PORT with a numeric address and a port up to 65535, not '" + text +
           "'";
    return false;
  }
  *host = address;
  *port = static_cast<uint16_t>(number);
  return true;
}

bool parseOptions(int argc, const char* const* argv, Options* options, std::string* err) {
  static const std::set<std::string> kKnown = {"--data", "--listen", "--max-clients",
                                               "--max-subscriptions"};
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
