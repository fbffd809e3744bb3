// ZUQTradeReport: writes one firm's trades of one issue as a delimited report.
#include <cstdio>
#include <cstring>

#include "platform/profile.h"
#include "platform/write_signals.h"
#include "run/run_driver.h"

namespace {

constexpr char kUsage[] =
    "Usage: ZUQTradeReport [INI-FILE]\n"
    "\n"
    "Connects to the data server named in the INI file, collects the trades of\n"
    "one issue from table \"Trade\", and writes the configured firm's trades as a\n"
    "delimited report. Settings come from section \"options\" of INI-FILE\n"
    "(default: %s).\n"
    "\n"
    "Exit status: 0 report complete; 1 data server not reached; 2 table not\n"
    "synchronized; 3 report file not opened or not written whole.\n"
    "\n"
    "  -h, --help, /?  show this text and exit\n"
    "      --version   show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
  // The log goes to standard output; a reader that goes away (`| head`) must
  // not cost the report. Log writes then fail and the run goes on. A report
  // that outgrows the file-size limit fails the same way, so that the run
  // removes its temporary file and keeps the earlier report.
  platform::ignoreWriteSignals();
  // "/?" as well: how Windows programs are asked for their usage.
  if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0 ||
                   std::strcmp(argv[1], "/?") == 0)) {
    std::printf(kUsage, platform::kDefaultIniPath);
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
    std::printf("ZUQTradeReport v%s\n", ZUQ_VERSION);
    return 0;
  }
  return runTradeReport(argc > 1 ? argv[1] : platform::kDefaultIniPath);
}
