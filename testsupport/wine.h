// Where Wine's own implementation of a Windows call differs from real
// Windows, a test skips the case under Wine only, naming the deviation.
#pragma once

namespace testsupport {

// True when the process runs under Wine (a Windows build only; decided at
// run time, from ntdll's wine_get_version).
bool runningUnderWine();

}  // namespace testsupport

// Skips the current test under Wine, with the reason in the test's output.
#define ZUQ_SKIP_UNDER_WINE(reason) \
  if (::testsupport::runningUnderWine()) GTEST_SKIP() << "Wine deviates from Windows: " << reason
