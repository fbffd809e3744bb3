// The log of zuqds: one line per event on stdout, flushed at once so that
// whoever watches the server (a person, a test) sees each line as it happens.
#pragma once

#include <string>
#include <string_view>

namespace zuqds {

// Writes `line` and a newline to stdout and flushes. The server's thread only.
void logLine(std::string_view line);

// `text` fit for a log line whatever a peer sent: bytes outside printable
// ASCII and the backslash as \xNN; more than 200 bytes cut with "...".
std::string printable(std::string_view text);

// The same between single quotes, a quote inside as \x27.
std::string inQuotes(std::string_view text);

}  // namespace zuqds
