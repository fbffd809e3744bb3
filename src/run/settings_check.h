// Mistakes in the INI file caught before they cost: warnings logged at the
// start of every run, and the fuller check of `ZUQTradeReport --check`.
#pragma once

#include <string>
#include <vector>

// Warnings about section "options" of the INI file at `iniPath`, each a text
// for the line "[ZUQTradeReport] Warning: TEXT": no such section in a file
// that exists; a key the program does not know, with the known key nearest
// to it; an integer key whose value is no number, with the value used; an
// absent trade_participant (every firm's trades are reported) or trade_issue
// (every issue). None when the file can't be read: the library says why.
// Reading them changes nothing in the run.
std::vector<std::string> configurationWarnings(const char* iniPath);

// The files of the online library's own section that the run must not
// overwrite: the table file "Trade" that the stand-in library's embedded
// data server reads ("Trade.csv" in its data_dir, resolved from the INI
// file's folder). Empty when the library uses a network data server.
std::vector<std::string> libraryTableFiles(const char* iniPath);

// `ZUQTradeReport --check`: reads the INI file at `iniPath` as a run would,
// prints the settings a run would use, every warning of
// configurationWarnings, and the checks that need no data server (the
// report's folder, the data source, the table file's columns) to standard
// output. Contacts no server and writes no report. Returns 0 when nothing
// was found, kExitCheckFoundSomething otherwise.
int checkConfiguration(const char* iniPath);

inline constexpr int kExitCheckFoundSomething = 4;
