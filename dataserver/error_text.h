// The one translation of a system or socket error into the words of a log
// line or an error text.
#pragma once

#include <string>
#include <system_error>

namespace dataserver {

// The system's description of `error`, without the full stop and line end
// that Windows puts after it, so that a message reads the same on every
// platform ("cannot connect: Connection refused; retrying ...").
inline std::string errorText(const std::error_code& error) {
  std::string text = error.message();
  while (!text.empty() &&
         (text.back() == '.' || text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

}  // namespace dataserver
