// The program's single entry for everything the online library reports.
#pragma once

#include <cstdint>

// Registered with zuqonlRegisterCallback; called on the library's
// notification thread, one notification at a time. Logs every known
// notification (codes 14 to 28 but 18 and 19) in its own words, signals the
// driver on DS Connected and Synchronized, hands added rows to the intake,
// and discards the stored trades on a Clear that comes before Synchronized.
// Everything it keeps is copied before it returns.
void onlineCallback(int32_t code, void* data);
