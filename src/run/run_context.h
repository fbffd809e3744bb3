// Everything one run of the program holds: its settings and its intake
// (the store of kept trades, the event that releases the driver's waits).
#pragma once

#include "intake/intake_context.h"
#include "run/run_settings.h"

// Owned by runTradeReport for the length of the run; the driver's functions
// take it, or the part they need, as parameters.
struct RunContext {
  RunSettings settings;
  IntakeContext intake;
  // "[ZUQTradeReport] Warning: " lines the run has logged (logRunWarning in
  // run/run_warnings.h), for its closing line. Driver thread only.
  unsigned warningsLogged = 0;
};
