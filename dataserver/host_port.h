// "HOST:PORT", the one way a data server's address is written: in the
// library's "server" setting and on zuqds's command line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace dataserver {

struct HostPort {
  std::string host;  // without brackets
  uint16_t port = 0;
};

// Whether port 0 is a port: a listening side reads it as "any free port".
enum class PortZero { Refused, Allowed };

// Reads `text` as HOST:PORT. HOST is an IPv4 address or a host name, or an
// IPv6 address in brackets ("[::1]:7415"); an IPv6 address without brackets
// is refused, as its last group would read as the port. PORT is decimal
// digits, 1 to 65535 (0 too with PortZero::Allowed). False with the fault in
// *err ("an IPv6 address needs brackets, as in [::1]:7415"), which does not
// repeat `text`: the caller names it and where it came from.
bool parseHostPort(std::string_view text, PortZero portZero, HostPort* out, std::string* err);

}  // namespace dataserver
