// The program's single entry for everything the online library reports.
#pragma once

#include <cstdint>

struct RunContext;

// Registered with zuqonlRegisterCallback; called on the library's
// notification thread, one notification at a time. Logs every known
// notification (codes 14 to 28 but 18 and 19) in its own words, signals the
// attached run's event on DS Connected and Synchronized, and hands added rows
// to the intake with the run's settings and store. Everything it keeps is
// copied before it returns. Without an attached run it only logs.
void onlineCallback(int32_t code, void* data);

// The run whose context onlineCallback serves, or null for none. The driver
// attaches its context before it registers the callback and detaches it only
// after the library is closed, so the context outlives every callback.
void attachRunContext(RunContext* run);
