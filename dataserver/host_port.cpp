#include "dataserver/host_port.h"

namespace dataserver {
namespace {

bool parsePort(std::string_view digits, PortZero portZero, uint16_t* port) {
  if (digits.empty() || digits.size() > 5) return false;
  uint32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<uint32_t>(c - '0');
  }
  if (value > 65535 || (value == 0 && portZero == PortZero::Refused)) return false;
  *port = static_cast<uint16_t>(value);
  return true;
}

// Splits `text` at the colon before the port; false with *err when the host
// part cannot be one.
bool splitHost(std::string_view text, std::string_view* host, std::string_view* port,
               std::string* err) {
  if (text.starts_with('[')) {
    const size_t close = text.find(']');
    if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
      *err = "a bracketed address must be followed by ]:PORT";
      return false;
    }
    *host = text.substr(1, close - 1);
    *port = text.substr(close + 2);
    return true;
  }
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) {
    *err = "no port";
    return false;
  }
  *host = text.substr(0, colon);
  *port = text.substr(colon + 1);
  if (host->find(':') != std::string_view::npos) {
    *err = "an IPv6 address needs brackets, as in [::1]:7415";
    return false;
  }
  return true;
}

}  // namespace

bool parseHostPort(std::string_view text, PortZero portZero, HostPort* out, std::string* err) {
  std::string_view host, port;
  if (!splitHost(text, &host, &port, err)) return false;
  if (host.empty()) {
    *err = "no host";
    return false;
  }
  if (host.find_first_of(" \t\r\n[]") != std::string_view::npos) {
    *err = "the host holds a space or a bracket";
    return false;
  }
  uint16_t number = 0;
  if (!parsePort(port, portZero, &number)) {
    *err = std::string("the port is not a number from ") +
           (portZero == PortZero::Allowed ? "0" : "1") + " to 65535";
    return false;
  }
  out->host = host;
  out->port = number;
  return true;
}

}  // namespace dataserver
