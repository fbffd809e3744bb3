// The escaping of what a data server sends, for the program's log lines.
#pragma once

#include <string>

// A text from the data server as a log line may carry it: control bytes
// (below 0x20, and 0x7F) written as \n, \r, \t or \xNN, so that no text can
// end the line, start one that looks like the program's own, or steer the
// terminal. Every other byte, Latin-1 letters included, stays as it is.
std::string escapeControlBytes(const char* text);
