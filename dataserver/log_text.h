// Text from a peer or a table file made safe to put in a log line or an error
// message: it cannot end the line, steer a terminal or run on without end.
// Shared by both data servers and the library's network client.
#pragma once

#include <string>
#include <string_view>

namespace dataserver {

// `text` with every byte outside printable ASCII, and the backslash, as
// \xNN (lower-case hex), so that whatever a peer sent stays on one line and
// reads back unambiguously; at most 200 bytes shown, "..." after more.
std::string escapedForLog(std::string_view text);

// The same between single quotes, a quote inside as \x27.
std::string quotedForLog(std::string_view text);

// `text` with each control byte (below 0x20, and 0x7f) as '?' and every
// other byte as it is, so that a name in UTF-8 stays readable; at most 64
// bytes shown, "..." after more. For the table engine's error texts, which
// a client logs and shows as they come.
std::string controlsMasked(std::string_view text);

}  // namespace dataserver
