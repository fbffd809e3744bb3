// The keys of section [options]: one table, from which the run's settings,
// the report's options, the start-of-run warnings and `--check` are all
// made, so that a key, its default and where its value goes are written once.
// A new key is one row here and one member where its value goes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/profile.h"
#include "report/trade_report.h"
#include "run/run_settings.h"

inline constexpr char kOptionsSection[] = "options";

// Everything section [options] sets.
struct Options {
  RunSettings run;
  ReportOptions report;
};

enum class OptionKind { Text, Integer };

struct OptionKey {
  std::string_view name;
  OptionKind kind;
  // What a run takes when the key is absent, as it would be written in the
  // INI file; null where the default is worked out at run time.
  const char* defaultValue;
  // Where the value goes: `text` for a Text key, `integer` for an Integer.
  std::string& (*text)(Options&);
  int32_t& (*integer)(Options&);
  // What the key sets, for --help.
  std::string_view help;
  // What the run does without the key, in words that finish "so ...",
  // where the default means more than its value; empty otherwise.
  std::string_view absentMeans = {};
  // Where an absent key is worth a warning at the start of every run: what
  // the run then does, in words that finish "no KEY in [options]: ...".
  std::string_view absentWarning = {};
};

// clang-format off
inline constexpr OptionKey kOptionKeys[] = {
    {"sync_timeout", OptionKind::Integer, "10", nullptr,
     [](Options& o) -> int32_t& { return o.run.syncTimeout; },
     "seconds to wait for the data server; the table gets ten times as long"},
    {"trade_issue", OptionKind::Text, "",
     [](Options& o) -> std::string& { return o.run.issue; }, nullptr,
     "the issue whose trades are requested (empty: every issue)",
     "the trades of every issue would be requested",
     "the trades of every issue will be reported"},
    {"trade_participant", OptionKind::Text, "",
     [](Options& o) -> std::string& { return o.run.selection.firmCode; }, nullptr,
     "the firm code (empty: every firm)",
     "the trades of every firm would be reported",
     "the trades of every firm will be reported"},
    {"trade_status", OptionKind::Integer, "0", nullptr,
     [](Options& o) -> int32_t& { return o.run.selection.tradeStatus; },
     "status of the trades kept (0: every status)",
     "trades of every status would be kept"},
    {"repotrade_status", OptionKind::Integer, "0", nullptr,
     [](Options& o) -> int32_t& { return o.run.selection.repoTradeStatus; },
     "the same for repo trades",
     "repo trades of every status would be kept"},
    {"report_file", OptionKind::Text, "ZUQTradeReport.txt",
     [](Options& o) -> std::string& { return o.report.reportFile; }, nullptr,
     "the report's path, from the current folder"},
    {"field_delimeter", OptionKind::Text, ";",
     [](Options& o) -> std::string& { return o.report.delimiter; }, nullptr,
     "text after each column"},
    {"print_header", OptionKind::Integer, "0", nullptr,
     [](Options& o) -> int32_t& { return o.report.printHeader; },
     "non-zero writes a header line"},
    {"date_format", OptionKind::Integer, "0", nullptr,
     [](Options& o) -> int32_t& { return o.report.dateFormat; },
     "0: YYYYMMDD, non-zero: DD/MM/YYYY"},
    {"log_rows", OptionKind::Integer, "1", nullptr,
     [](Options& o) -> int32_t& { return o.run.logRows; },
     "1: log every AddRow, UpdateRow and DeleteRow; 0: only a line per 100000 rows received"},
    {"max_store_mb", OptionKind::Integer, nullptr, nullptr,
     [](Options& o) -> int32_t& { return o.run.maxStoreMb; },
     "the most memory the kept trades may take (default: half the machine's)",
     "the kept trades could take half the machine's memory"},
    {"library_calls", OptionKind::Text, "",
     [](Options& o) -> std::string& { return o.run.libraryCalls; }, nullptr,
     "32-bit Windows: cdecl or stdcall, how the online library's operations are called "
     "(empty: found out from the library)",
     "the 32-bit program finds out from the library how to call it"},
};
// clang-format on

// The value of `key` in `profile`'s [options] as a run reads it: a text up to
// 255 characters, an integer as the profile calls convert it, the default
// when the key is absent (or, for an integer, empty). A key without a
// default (`defaultValue` null) reads as 0 when absent.
std::string optionText(const platform::Profile& profile, const OptionKey& key);
int32_t optionInteger(const platform::Profile& profile, const OptionKey& key);

// Every key of [options] read from `profile`, the store's limit worked out
// when max_store_mb does not set it.
Options readOptions(const platform::Profile& profile);

// The report's options, read afresh from the INI file at `iniPath` (a file
// that is gone gives the defaults).
ReportOptions readReportOptions(const char* iniPath);
