#include "run/settings_check.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string_view>

#include "intake/trade_columns.h"
#include "online/online_library.h"
#include "platform/error_text.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/regular_file.h"
#include "run/option_keys.h"
#include "run/run_driver.h"

namespace {

constexpr char kLibrarySection[] = "zuqonl";
// The library reads its values up to this many bytes.
constexpr uint32_t kLibraryValueBytes = 4096;

// How far a name may be from a known one and still be taken for a
// misspelling of it that refuses the run: two letters added, dropped,
// changed or swapped.
constexpr size_t kMisspellingDistance = 2;

std::vector<std::string_view> optionNames() {
  std::vector<std::string_view> names;
  for (const OptionKey& key : kOptionKeys) names.push_back(key.name);
  return names;
}

std::string libraryValue(const platform::Profile& profile, const char* key) {
  return profile.text(kLibrarySection, key, "", kLibraryValueBytes);
}

// A value the integer reading takes whole: a sign, then decimal digits, or
// digits after a 0x, 0o or 0b prefix.
bool isNumber(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  std::string_view digits = "0123456789";
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'o' || text[1] == 'b')) {
    digits = text[1] == 'x' ? "0123456789abcdefABCDEF" : text[1] == 'o' ? "01234567" : "01";
    text.remove_prefix(2);
  }
  return !text.empty() && text.find_first_not_of(digits) == std::string_view::npos;
}

bool present(const platform::ProfileKeys& keys, std::string_view name) {
  for (const std::string& key : keys.keys) {
    if (platform::isKnownKey(key, {name})) return true;
  }
  return false;
}

// Whether `name` in `section`, read as the known key `option` is read,
// gives what the run takes for that key anyway (its default): then a
// misspelling of it changes nothing.
bool takenAnyway(const platform::Profile& profile, const char* section, const std::string& name,
                 const OptionKey& option) {
  const char* defaultText = option.defaultValue ? option.defaultValue : "";
  if (option.kind == OptionKind::Text) {
    return profile.text(section, name.c_str(), defaultText) == defaultText;
  }
  const int32_t defaultValue = option.defaultValue ? std::stoi(option.defaultValue) : 0;
  const auto value = static_cast<int32_t>(profile.getInt(section, name.c_str(), defaultValue));
  // Without a default, a value that is not positive asks for the one worked
  // out at run time.
  return option.defaultValue ? value == defaultValue : value <= 0;
}

// What the run does without `option`, in words that finish "so ...".
std::string withoutIt(const OptionKey& option) {
  if (!option.absentMeans.empty()) return std::string(option.absentMeans);
  const std::string value = option.defaultValue ? option.defaultValue : "";
  return std::string(option.name) + " would be " +
         (option.kind == OptionKind::Text ? "'" + value + "'" : value);
}

// The known key absent from `keys` that the unknown `name` misspells, or
// null.
const OptionKey* misspeltKey(const std::string& name, const platform::ProfileKeys& keys) {
  const OptionKey* nearest = nullptr;
  size_t nearestDistance = kMisspellingDistance + 1;
  for (const OptionKey& option : kOptionKeys) {
    if (present(keys, option.name)) continue;
    const size_t distance = platform::nameDistance(name, option.name);
    if (distance < nearestDistance) {
      nearest = &option;
      nearestDistance = distance;
    }
  }
  return nearest;
}

void reviewKeys(const platform::Profile& profile, const platform::ProfileKeys& keys,
                ConfigurationReview& review) {
  const std::vector<std::string_view> known = optionNames();
  for (const std::string& key : keys.keys) {
    if (platform::isKnownKey(key, known)) continue;
    std::string warning = "unknown key '" + key + "' in [options] is ignored";
    const std::string nearest = platform::nearestKey(key, known);
    if (!nearest.empty()) warning += ": did you mean '" + nearest + "'?";
    review.warnings.push_back(warning);
    const OptionKey* meant = misspeltKey(key, keys);
    if (meant == nullptr || takenAnyway(profile, kOptionsSection, key, *meant)) continue;
    review.refusals.push_back("'" + key + "=" + profile.text(kOptionsSection, key.c_str(), "") +
                              "' is not a key: " + std::string(meant->name) + " is absent, so " +
                              withoutIt(*meant) + "; correct the name, or remove the line");
  }
}

void reviewNumbers(const platform::Profile& profile, const platform::ProfileKeys& keys,
                   ConfigurationReview& review) {
  for (const OptionKey& option : kOptionKeys) {
    if (option.kind != OptionKind::Integer || !present(keys, option.name)) continue;
    const std::string name(option.name);
    const std::string value = profile.text(kOptionsSection, name.c_str(), "");
    if (isNumber(value)) continue;
    const auto used = static_cast<int32_t>(profile.getInt(kOptionsSection, name.c_str(), 0));
    review.warnings.push_back(
        value.empty()
            ? name + " is empty: " +
                  (option.defaultValue ? std::string(option.defaultValue) + " is used"
                                       : std::string("its default is used"))
            : name + "=" + value + " is not a number: " + std::to_string(used) + " is used");
  }
}

// With no section [options]: a section named within two letters of it that
// sets a known key to something else than its default was surely meant.
void reviewMissingSection(const platform::Profile& profile, ConfigurationReview& review) {
  for (const std::string& section : profile.sectionNames()) {
    if (platform::nameDistance(section, kOptionsSection) > kMisspellingDistance) continue;
    for (const std::string& key : profile.keys(section.c_str()).keys) {
      for (const OptionKey& option : kOptionKeys) {
        if (!platform::isKnownKey(key, {option.name}) ||
            takenAnyway(profile, section.c_str(), key, option)) {
          continue;
        }
        review.refusals.push_back("there is no section [options], but [" + section + "] holds '" +
                                  key + "=" + profile.text(section.c_str(), key.c_str(), "") +
                                  "': every setting takes its default, so " + withoutIt(option) +
                                  "; correct the section's name");
        return;
      }
    }
  }
}

}  // namespace

ConfigurationReview reviewConfiguration(const platform::Profile& profile, const char* iniPath) {
  ConfigurationReview review;
  const platform::ProfileKeys keys = profile.keys(kOptionsSection);
  if (!keys.fileRead) return review;
  if (!keys.sectionFound) {
    review.warnings.push_back(std::string("no section [options] in '") + iniPath +
                              "': every setting takes its default");
    reviewMissingSection(profile, review);
  }
  reviewKeys(profile, keys, review);
  reviewNumbers(profile, keys, review);
  for (const OptionKey& option : kOptionKeys) {
    if (option.absentWarning.empty() || present(keys, option.name)) continue;
    review.warnings.push_back("no " + std::string(option.name) +
                              " in [options]: " + std::string(option.absentWarning));
  }
  return review;
}

std::vector<std::string> libraryTableFiles(const platform::Profile& profile, const char* iniPath) {
  if (!libraryValue(profile, "server").empty()) return {};
  const std::string dataDir = libraryValue(profile, "data_dir");
  if (dataDir.empty()) return {};
  return {platform::pathBesideFile(iniPath, dataDir + "/Trade.csv")};
}

namespace {

// What --check prints and counts.
class CheckReport {
 public:
  void passed(const std::string& what) { std::printf("ok: %s\n", what.c_str()); }
  void problem(const std::string& what) {
    std::printf("problem: %s\n", what.c_str());
    ++found_;
  }
  void warning(const std::string& text) {
    std::printf("[ZUQTradeReport] Warning: %s\n", text.c_str());
    ++found_;
  }
  int found() const { return found_; }

 private:
  int found_ = 0;
};

void printSettings(const platform::Profile& profile) {
  const platform::ProfileKeys keys = profile.keys(kOptionsSection);
  std::printf("[options]\n");
  for (const OptionKey& option : kOptionKeys) {
    const bool given = present(keys, option.name);
    std::string value;
    if (option.kind == OptionKind::Text) {
      value = "'";  // appended: GCC 12 at -O3 misreads "'" + a temporary (-Wrestrict)
      value += optionText(profile, option);
      value += "'";
    } else if (given || option.defaultValue != nullptr) {
      value = std::to_string(optionInteger(profile, option));
    } else {
      value = "(sized to the machine)";
    }
    std::printf("  %s = %s%s\n", std::string(option.name).c_str(), value.c_str(),
                given ? "" : " (default)");
  }
  std::printf("[zuqonl] (read by the online library)\n");
  for (const std::string& key : profile.keys(kLibrarySection).keys) {
    std::printf("  %s = %s\n", key.c_str(), libraryValue(profile, key.c_str()).c_str());
  }
}

// The first record of a table file: its column names, quotes taken off.
std::vector<std::string> headerColumns(std::FILE* file) {
  constexpr size_t kMaxHeaderBytes = 64 * 1024;
  std::string start(kMaxHeaderBytes, '\0');
  start.resize(std::fread(start.data(), 1, start.size(), file));
  if (start.starts_with("\xEF\xBB\xBF")) start.erase(0, 3);
  std::vector<std::string> columns(1);
  bool quoted = false;
  for (char c : start) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && c == ',') {
      columns.emplace_back();
    } else if (!quoted && (c == '\n' || c == '\r')) {
      break;
    } else {
      columns.back() += c;
    }
  }
  return columns;
}

void checkTableFile(const std::string& path, CheckReport& report) {
  int error = 0;
  std::FILE* file = platform::openRegularFile(path.c_str(), &error);
  if (file == nullptr) {
    report.problem("table file '" + path + "' cannot be read: " + platform::errnoText(error));
    return;
  }
  const std::vector<std::string> columns = headerColumns(file);
  std::fclose(file);
  std::string missing;
  for (const TradeColumn& column : kTradeColumns) {
    bool found = false;
    for (const std::string& each : columns) found = found || each == column.name;
    if (!found) missing += (missing.empty() ? "" : ", ") + std::string(column.name);
  }
  if (missing.empty()) {
    report.passed("table file '" + path + "' has the 28 columns of table \"Trade\"");
  } else {
    report.problem("table file '" + path + "' lacks the columns " + missing);
  }
}

// Why `server` is no HOST:PORT the library can connect to (an IPv6 address
// in brackets, a port from 1 to 65535); empty when it is one.
std::string serverFault(std::string_view server) {
  std::string_view host = server;
  std::string_view port;
  if (server.starts_with('[')) {
    const size_t close = server.find(']');
    if (close == std::string_view::npos || close + 1 >= server.size() || server[close + 1] != ':') {
      return "a bracketed address must be followed by ]:PORT";
    }
    host = server.substr(1, close - 1);
    port = server.substr(close + 2);
  } else {
    const size_t colon = server.rfind(':');
    if (colon == std::string_view::npos) return "there is no :PORT";
    host = server.substr(0, colon);
    port = server.substr(colon + 1);
    if (host.find(':') != std::string_view::npos) {
      return "an IPv6 address needs brackets, as in [::1]:7415";
    }
  }
  if (host.empty()) return "there is no host";
  if (host.find_first_of(" \t\r\n[]") != std::string_view::npos) {
    return "the host holds a blank or a bracket";
  }
  uint32_t number = 0;
  bool digits = !port.empty() && port.size() <= 5;
  for (char c : port) {
    digits = digits && c >= '0' && c <= '9';
    if (digits) number = number * 10 + static_cast<uint32_t>(c - '0');
  }
  if (!digits || number < 1 || number > 65535) return "the port is not a number from 1 to 65535";
  return "";
}

void checkDataSource(const platform::Profile& profile, const char* iniPath, CheckReport& report) {
  const std::string server = libraryValue(profile, "server");
  if (!server.empty()) {
    if (const std::string fault = serverFault(server); !fault.empty()) {
      report.problem("server '" + server + "' is not HOST:PORT (" + fault +
                     "): a run reaches no data server");
    } else {
      report.passed("data server '" + server + "' is named (the check does not contact it)");
    }
    return;
  }
  const std::string dataDir = libraryValue(profile, "data_dir");
  if (dataDir.empty()) {
    report.problem("neither server nor data_dir in [zuqonl]: a run reaches no data server");
    return;
  }
  const std::string folder = platform::pathBesideFile(iniPath, dataDir);
  if (const int error = platform::folderReadError(folder); error != 0) {
    report.problem("data_dir '" + folder + "' cannot be read: " + platform::errnoText(error));
    return;
  }
  report.passed("data_dir '" + folder + "' can be read");
  for (const std::string& table : libraryTableFiles(profile, iniPath)) {
    checkTableFile(table, report);
  }
}

// The report's path: not the run's own input, an existing report that this
// user may replace, a folder that may take it.
void checkReportFile(const platform::Profile& profile, const char* iniPath, CheckReport& report) {
  const std::string reportFile = readOptions(profile).report.reportFile;
  if (reportFile.empty()) {
    report.problem("report_file is empty: a run can't write its report");
    return;
  }
  const std::string path = platform::absolutePath(reportFile);
  if (platform::sameFile(reportFile, iniPath)) {
    report.problem("report_file '" + path + "' is the INI file itself");
  }
  for (const std::string& table : libraryTableFiles(profile, iniPath)) {
    if (platform::sameFile(reportFile, table)) {
      report.problem("report_file '" + path + "' is the table file '" + table + "'");
    }
  }
  const std::string folder = platform::pathBesideFile(path, ".");
  const int folderError = platform::folderWriteError(folder);
  const int fileError = platform::fileWriteError(reportFile);
  if (fileError == 0) {
    report.passed("the report '" + path + "' exists and may be replaced" +
                  (folderError == 0 ? "" : " (it is rewritten in place)"));
  } else if (fileError != ENOENT && fileError != platform::kNotARegularFile) {
    report.problem("the report '" + path +
                   "' exists and this user may not replace it: " + platform::errnoText(fileError));
  } else if (folderError != 0) {
    report.problem("report folder '" + folder +
                   "' cannot take the report: " + platform::errnoText(folderError));
  } else {
    report.passed("report folder '" + folder + "' exists and may be written");
  }
}

// The stand-in library's log file: where a run's only record may go.
void checkLogFile(const platform::Profile& profile, const char* iniPath, CheckReport& report) {
  const std::string logFile = libraryValue(profile, "log_file");
  if (logFile.empty()) return;
  const std::string path = platform::pathBesideFile(iniPath, logFile);
  const int fileError = platform::fileWriteError(path);
  if (fileError != 0 && fileError != ENOENT && fileError != platform::kNotARegularFile) {
    report.problem("log_file '" + path + "' cannot be written: " + platform::errnoText(fileError) +
                   "; a run's lines go to standard output only");
    return;
  }
  if (fileError == ENOENT) {
    const std::string folder = platform::pathBesideFile(path, ".");
    if (const int error = platform::folderWriteError(folder); error != 0) {
      report.problem("log_file folder '" + folder + "' cannot take the log file: " +
                     platform::errnoText(error) + "; a run's lines go to standard output only");
      return;
    }
  }
  report.passed("log_file '" + path + "' may be written");
}

void checkWaits(const platform::Profile& profile, CheckReport& report) {
  const int32_t syncTimeout = readOptions(profile).run.syncTimeout;
  if (syncTimeout <= 0) {
    report.problem("sync_timeout=" + std::to_string(syncTimeout) +
                   ": a run does not wait for the data server or the table, so it ends "
                   "without a report unless both answer at once; give the seconds to wait");
  }
}

// The online library a run would load: where, its bitness, how it is
// called, its nine operations. Loaded, not called.
void checkLibrary(const platform::Profile& profile, CheckReport& report) {
  const online::Library& library = online::bindLibrary(readOptions(profile).run.libraryCalls);
  if (!library.problem.empty()) {
    report.problem(library.problem + " (a run ends with exit status " +
                   std::to_string(kExitNoLibrary) + ")");
    return;
  }
  report.passed("online library '" + library.path + "' loads, " +
                std::to_string(online::kProgramBits) + "-bit as this program");
  std::string names;
  for (const std::string& name : library.exports) names += (names.empty() ? "" : " ") + name;
  report.passed("its nine operations are there: " + names);
  report.passed("its operations are called " +
                (library.calls == online::Calls::Unknown
                     ? std::string("cdecl or stdcall")
                     : std::string(online::callsName(library.calls))) +
                " (" + library.callsFoundBy + ")");
}

}  // namespace

int checkConfiguration(const char* iniPath) {
  std::printf("Checking '%s' as a run reads it; no data server is contacted.\n", iniPath);
  CheckReport report;
  int error = 0;
  std::FILE* ini = platform::openRegularFile(iniPath, &error);
  const platform::Profile profile = platform::Profile::read(iniPath);
  if (ini == nullptr) {
    report.problem(std::string("INI file '") + iniPath + "' cannot be read: " +
                   platform::errnoText(error) + "; every setting takes its default");
  } else {
    std::fclose(ini);
    if (!profile.fileRead()) {
      report.problem(std::string("INI file '") + iniPath +
                     "' is not read (saved as UTF-16, or larger than 16 MiB): save it as ANSI");
    }
  }
  printSettings(profile);
  const ConfigurationReview review = reviewConfiguration(profile, iniPath);
  for (const std::string& warning : review.warnings) report.warning(warning);
  for (const std::string& refusal : review.refusals) {
    report.problem(refusal + " (a run refuses to start)");
  }
  checkLibrary(profile, report);
  checkWaits(profile, report);
  checkReportFile(profile, iniPath, report);
  checkDataSource(profile, iniPath, report);
  checkLogFile(profile, iniPath, report);
  if (report.found() == 0) {
    std::printf("Nothing found: a run with these settings can start.\n");
    return 0;
  }
  std::printf("Found %d thing%s to look at (exit status %d).\n", report.found(),
              report.found() == 1 ? "" : "s", kExitCheckFoundSomething);
  return kExitCheckFoundSomething;
}
