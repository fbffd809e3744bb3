// ZUQTradeReport: writes one firm's trades of one issue as a delimited report.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/profile.h"
#include "platform/standard_streams.h"
#include "platform/write_signals.h"
#include "run/run_driver.h"
#include "run/settings_check.h"

namespace {

constexpr char kUsage[] =
    "Usage: ZUQTradeReport [INI-FILE]\n"
    "       ZUQTradeReport --check [INI-FILE]\n"
    "\n"
    "Connects to the data server named in the INI file, collects the trades of\n"
    "one issue from table \"Trade\", and writes the configured firm's trades as a\n"
    "delimited report. Settings come from section \"options\" of INI-FILE\n"
    "(default: %s).\n"
    "\n"
    "  -h, --help, /?  show this text and exit\n"
    "      --version   show the version and exit\n"
    "      --check     read INI-FILE as a run would, print the settings it would\n"
    "                  use, its warnings and the checks that need no data server\n"
    "                  (report folder, data source, table columns); writes\n"
    "                  nothing and contacts no server\n"
    "\n"
    "An INI file whose name begins with '-' is given as ./-NAME.\n"
    "\n"
    "Keys of section [options]:\n"
    "  sync_timeout       seconds to wait for the data server (10); the table\n"
    "                     gets ten times as long\n"
    "  trade_issue        the issue whose trades are requested (every issue)\n"
    "  trade_participant  the firm code (every firm)\n"
    "  trade_status       status of the trades kept (0: every status)\n"
    "  repotrade_status   the same for repo trades (0)\n"
    "  report_file        the report's path, from the current folder\n"
    "                     (ZUQTradeReport.txt)\n"
    "  field_delimeter    text after each column (;)\n"
    "  print_header       non-zero writes a header line (0)\n"
    "  date_format        0: YYYYMMDD, non-zero: DD/MM/YYYY (0)\n"
    "  log_rows           1: log every AddRow, UpdateRow and DeleteRow; 0: only\n"
    "                     a line per 100000 rows received (1)\n"
    "  max_store_mb       the most memory the kept trades may take\n"
    "\n"
    "The run's last log line says what it did: \"Report complete: ...\" or\n"
    "\"No report: REASON, exit status N\".\n"
    "\n"
    "Exit status: 0 report complete; 1 data server not reached; 2 table not\n"
    "synchronized (or the trades did not fit), or an unknown option; 3 report\n"
    "file not opened or not written whole; 4 --check found something.\n";

// The INI file read when none is named: this file of the current folder.
constexpr char kIniFileName[] = "ZUQTradeReport.ini";

std::string defaultIniPath() { return platform::profilePathInCurrentFolder(kIniFileName); }

bool is(const char* argument, const char* option) { return std::strcmp(argument, option) == 0; }

// An argument that looks like an option and is none: a typo must not be
// taken for the INI file's name.
bool refusedOption(const char* argument) {
  if (argument == nullptr || argument[0] != '-') return false;
  std::fprintf(stderr, "ZUQTradeReport: unknown option '%s'\n\n", argument);
  std::fprintf(stderr, kUsage, defaultIniPath().c_str());
  return true;
}

constexpr int kExitUnknownOption = 2;

}  // namespace

int main(int argc, char** argv) {
  // The log goes to standard output; a reader that goes away (`| head`) must
  // not cost the report. Log writes then fail and the run goes on. A report
  // that outgrows the file-size limit fails the same way, so that the run
  // removes its temporary file and keeps the earlier report.
  platform::ignoreWriteSignals();
  // Started with standard output closed, the report's file could otherwise
  // take its number and receive the log.
  platform::reserveStandardStreams();
  // The options count wherever they stand (`trades.ini --check` checks); the
  // INI file is the first other argument, and the rest are ignored.
  bool help = false, version = false, check = false;
  const char* ini = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    // "/?" as well: how Windows programs are asked for their usage.
    if (is(argument, "-h") || is(argument, "--help") || is(argument, "/?")) {
      help = true;
    } else if (is(argument, "--version")) {
      version = true;
    } else if (is(argument, "--check")) {
      check = true;
    } else if (ini == nullptr) {
      ini = argument;
    }
  }
  if (help) {
    std::printf(kUsage, defaultIniPath().c_str());
    return 0;
  }
  if (version) {
    std::printf("ZUQTradeReport v%s\n", ZUQ_VERSION);
    return 0;
  }
  if (refusedOption(ini)) return kExitUnknownOption;
  const std::string iniPath = ini != nullptr ? ini : defaultIniPath();
  return check ? checkConfiguration(iniPath.c_str()) : runTradeReport(iniPath.c_str());
}
