// Mistakes in the INI file caught before they cost: warnings logged at the
// start of every run, misspellings that refuse the run, and the fuller check
// of `ZUQTradeReport --check`.
#pragma once

#include <string>
#include <vector>

#include "platform/profile.h"

// What section [options] of an INI file holds that cannot be what was meant.
struct ConfigurationReview {
  // Each a text for the line "[ZUQTradeReport] Warning: TEXT": no such
  // section in a file that exists; a key the program does not know, with the
  // known key nearest to it; an integer key whose value is no number, with
  // the value used; an absent trade_participant (every firm's trades are
  // reported) or trade_issue (every issue).
  std::vector<std::string> warnings;
  // Misspellings that would change what the run does, each a reason for the
  // run's closing line: an unknown key within two letters of a known key
  // that is absent, whose value differs from what the run takes instead; or,
  // with no section [options], a section named within two letters of it that
  // holds a known key with a value other than its default. A run refuses to
  // start on any of them.
  std::vector<std::string> refusals;
};

// The review of `profile`, the INI file at `iniPath`. Empty when the file
// can't be read: the library says why.
ConfigurationReview reviewConfiguration(const platform::Profile& profile, const char* iniPath);

// The files of the online library's own section that the run must not
// overwrite: the table file "Trade" that the stand-in library's embedded
// data server reads ("Trade.csv" in its data_dir, resolved from the INI
// file's folder, `iniPath`). Empty when the library uses a network data
// server.
std::vector<std::string> libraryTableFiles(const platform::Profile& profile, const char* iniPath);

// `ZUQTradeReport --check`: reads the INI file at `iniPath` as a run would,
// prints the settings a run would use, every warning and refusal of
// reviewConfiguration, and the checks that need no data server (the
// report's folder and file, the data source, the table file's columns, the
// library's log file, the waits) to standard output. Contacts no server and
// writes no report. Returns 0 when nothing was found,
// kExitCheckFoundSomething otherwise.
int checkConfiguration(const char* iniPath);

inline constexpr int kExitCheckFoundSomething = 4;
