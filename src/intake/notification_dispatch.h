// The program's single entry for everything the online library reports.
#pragma once

#include <cstdint>

#include "online/online_library.h"

struct IntakeContext;

// Registered with zuqonlRegisterCallback; called on the library's
// notification thread, one notification at a time. Logs every known
// notification (codes 14 to 28 but 18 and 19) in its own words (the rows'
// own lines only where the intake's logRows asks for them), counts the
// added rows, signals the attached intake's event on DS Connected and
// Synchronized, hands added rows to the intake with its selection and store,
// and discards the stored trades on a Clear that comes before Synchronized.
// Everything it keeps is copied before it returns. Without an attached
// intake it only logs. Nothing
// is thrown into the library that calls it: running out of memory ends the
// intake (the run then has no report) instead. It takes the library's
// calling convention, whichever the build chose.
void ZUQONL_CALL onlineCallback(int32_t code, void* data) noexcept;

// The intake that onlineCallback serves, or null for none. The driver
// attaches its run's intake before it registers the callback and detaches it
// only after the library is closed, so the intake outlives every callback.
void attachIntake(IntakeContext* intake);
