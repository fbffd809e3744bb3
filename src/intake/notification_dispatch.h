// The program's single entry for everything the online library reports.
#pragma once

#include <cstdint>
#include <string>

#include "online/online_library.h"

struct RunContext;

// Registered with zuqonlRegisterCallback; called on the library's
// notification thread, one notification at a time. Logs every known
// notification (codes 14 to 28 but 18 and 19) in its own words (the rows'
// own lines only where the run's "log_rows" asks for them), counts the
// added rows, signals the
// attached run's event on DS Connected and Synchronized, hands added rows to
// the intake with the run's settings and store, and discards the stored
// trades on a Clear that comes before Synchronized. Everything it keeps is
// copied before it returns. Without an attached run it only logs. Nothing
// is thrown into the library that calls it: running out of memory ends the
// intake (the run then has no report) instead. It takes the library's
// calling convention, whichever the build chose.
void ZUQONL_CALL onlineCallback(int32_t code, void* data) noexcept;

// The run whose context onlineCallback serves, or null for none. The driver
// attaches its context before it registers the callback and detaches it only
// after the library is closed, so the context outlives every callback.
void attachRunContext(RunContext* run);

// A text from the data server as a log line may carry it: control bytes
// (below 0x20, and 0x7F) written as \n, \r, \t or \xNN, so that no text can
// end the line, start one that looks like the program's own, or steer the
// terminal. Every other byte, Latin-1 letters included, stays as it is.
std::string escapeControlBytes(const char* text);
