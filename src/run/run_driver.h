// The program's run: one pass from the INI file to the report, never retried.
#pragma once

#include <cstdint>

// Exit statuses of a run.
inline constexpr int kExitReportComplete = 0;
inline constexpr int kExitNoDataServer = 1;      // first wait failed
inline constexpr int kExitNoLibrary = 1;         // the online library cannot be used
inline constexpr int kExitNotSynchronized = 2;   // second wait failed, or the trades did not fit
inline constexpr int kExitReportNotWritten = 3;  // report file not opened or not written whole
inline constexpr int kExitSettingRefused = 4;    // a misspelt setting would change the run

// Runs the report with the INI file at `iniPath` and returns the exit status.
int runTradeReport(const char* iniPath);

// The wait, in milliseconds, for `seconds` configured seconds at `perSecond`
// milliseconds each: a negative count waits 0, and a count too large for the
// wait is held just below the unlimited wait instead of wrapping round.
uint32_t waitMilliseconds(int32_t seconds, uint32_t perSecond);
