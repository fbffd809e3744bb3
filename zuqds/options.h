// The command line of zuqds.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace zuqds {

inline constexpr uint16_t kDefaultPort = 7415;

// Bounds that keep a server's memory finite whatever its clients do.
struct Limits {
  size_t maxClients = 1024;      // connected at once; more are refused
  size_t maxSubscriptions = 16;  // open at once per client; more end the link
  // A client with no open subscription for this long is dropped, so that
  // clients that greet and do nothing more cannot hold every place.
  std::chrono::milliseconds idleTimeout{30000};
};

// File handles the server keeps for itself (standard streams, the listening
// socket, the event loop's own). Besides, a client takes one for its socket
// and one for each subscription it holds open, since a subscription keeps
// its table file open until its end.
inline constexpr size_t kFilesReserved = 16;

// The most clients that `openFiles` file handles serve when each may hold
// `maxSubscriptions` subscriptions (at least 1).
size_t clientsForOpenFiles(size_t openFiles, size_t maxSubscriptions);

struct Options {
  std::string dataDir;             // table T is file <dataDir>/T.csv
  std::string host = "127.0.0.1";  // an IPv4 or IPv6 address, no brackets
  uint16_t port = kDefaultPort;    // 0: any free port
  Limits limits;
};

// The usage text, ending with a newline.
extern const char kUsage[];

// Fills *options from the arguments after the program name. False with a
// finished message in *err for a missing --data, an unknown or repeated
// option, a missing value, or a value that is not one (an address that is
// not numeric, a port beyond 65535, a limit or timeout of 0).
bool parseOptions(int argc, const char* const* argv, Options* options, std::string* err);

// "HOST:PORT" (IPv6 as "[HOST]:PORT") into *host and *port, as above.
bool parseListen(const std::string& text, std::string* host, uint16_t* port, std::string* err);

}  // namespace zuqds
