// ZUQTradeReport: writes one firm's trades of one issue as a delimited report.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/profile.h"
#include "platform/shared_library.h"
#include "platform/standard_streams.h"
#include "platform/stop_request.h"
#include "platform/write_signals.h"
#include "run/option_keys.h"
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
    "                  (online library, report file and folder, data source,\n"
    "                  table columns, log file, waits); writes nothing and\n"
    "                  contacts no server\n"
    "\n"
    "Options may stand before or after INI-FILE. An INI file whose name begins\n"
    "with '-' is given as ./-NAME. A misspelt key or section of [options]\n"
    "(trade_particpant, [option]) whose value would change the run refuses\n"
    "it before anything is connected or written.\n"
    "\n"
    "Keys of section [options] (default in brackets):\n";

// The end of the usage, after the keys.
constexpr char kUsageEnd[] =
    "\n"
    "The run's last log line says what it did: \"Report complete: ...\" or\n"
    "\"No report: REASON, exit status N\".\n"
    "\n"
    "Exit status: 0 report complete; 1 data server not reached, or the online\n"
    "library cannot be used; 2 table not synchronized (or the trades did not\n"
    "fit), or an unknown option; 3 report file not opened or not written\n"
    "whole; 4 a misspelt key or section that would change the run (nothing is\n"
    "run), or --check found something;\n"
    "stopped by a signal: 128 + its number (Windows, Ctrl+C or Ctrl+Break:\n"
    "-1073741510).\n";

// The INI file read when none is named: this file of the current folder.
constexpr char kIniFileName[] = "ZUQTradeReport.ini";

std::string defaultIniPath() { return platform::profilePathInCurrentFolder(kIniFileName); }

// The usage to `out`: the options, then each key of [options] with its
// default and what it sets, wrapped to the width of a terminal.
void printUsage(std::FILE* out) {
  std::fprintf(out, kUsage, defaultIniPath().c_str());
  constexpr size_t kIndent = 21, kWidth = 78;
  for (const OptionKey& key : kOptionKeys) {
    std::string text(key.help);
    // An empty default is told by the key's own words.
    const std::string value = key.defaultValue != nullptr ? key.defaultValue : "";
    if (!value.empty())
      text += key.kind == OptionKind::Text ? " ('" + value + "')" : " (" + value + ")";
    std::string line = "  " + std::string(key.name);
    line.resize(kIndent, ' ');
    size_t start = 0;
    while (start < text.size()) {
      size_t end = text.size();
      if (end - start > kWidth - kIndent) {
        end = text.rfind(' ', start + kWidth - kIndent);
        if (end == std::string::npos || end <= start) end = start + kWidth - kIndent;
      }
      line += text.substr(start, end - start);
      std::fprintf(out, "%s\n", line.c_str());
      line.assign(kIndent, ' ');
      start = end < text.size() && text[end] == ' ' ? end + 1 : end;
    }
  }
  std::fputs(kUsageEnd, out);
}

bool is(const char* argument, const char* option) { return std::strcmp(argument, option) == 0; }

// An argument that looks like an option and is none: a typo must not be
// taken for the INI file's name.
bool refusedOption(const char* argument) {
  if (argument == nullptr || argument[0] != '-') return false;
  std::fprintf(stderr, "ZUQTradeReport: unknown option '%s'\n\n", argument);
  printUsage(stderr);
  return true;
}

constexpr int kExitUnknownOption = 2;

}  // namespace

int main(int argc, char** argv) {
  // First: on Windows no loader's or fault's dialog waits for a click on an
  // unattended run, and a fault ends the run with its code and a line.
  platform::reportFaults("[ZUQTradeReport] No report: ");
  // Before any thread is started, so that every thread leaves the stop
  // signals to the service's own: a run stops in order and says so.
  platform::watchStopRequests();
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
    printUsage(stdout);
    return 0;
  }
  if (version) {
    std::printf("ZUQTradeReport v%s\n", ZUQ_VERSION);
    return 0;
  }
  if (refusedOption(ini)) return kExitUnknownOption;
  const std::string iniPath = ini != nullptr ? ini : defaultIniPath();
  if (check) return checkConfiguration(iniPath.c_str());
  const int status = runTradeReport(iniPath.c_str());
  // A stopped run ends as the request would have ended it at once.
  if (platform::stopRequest()) platform::endAsStopRequested();
  return status;
}
