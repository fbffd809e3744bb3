// The program's single entry for everything the online library reports.
#pragma once

#include <cstdint>
#include <string>

// Registered with zuqonlRegisterCallback; called on the library's
// notification thread, one notification at a time. Logs every known
// notification (codes 14 to 28 but 18 and 19) in its own words, signals the
// driver on DS Connected and Synchronized, hands added rows to the intake,
// and discards the stored trades on a Clear that comes before Synchronized.
// Everything it keeps is copied before it returns.
void onlineCallback(int32_t code, void* data);

// A text from the data server as a log line may carry it: control bytes
// (below 0x20, and 0x7F) written as \n, \r, \t or \xNN, so that no text can
// end the line, start one that looks like the program's own, or steer the
// terminal. Every other byte, Latin-1 letters included, stays as it is.
std::string escapeControlBytes(const char* text);
