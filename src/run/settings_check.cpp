#include "run/settings_check.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "intake/trade_columns.h"
#include "platform/error_text.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/regular_file.h"

namespace {

constexpr char kOptions[] = "options";
constexpr char kLibrarySection[] = "zuqonl";

// Every key of section "options": the run's and the report's.
struct OptionKey {
  std::string_view name;
  bool integer;
  const char* defaultValue;  // as a run takes it when the key is absent
};

constexpr OptionKey kOptionKeys[] = {
    {"sync_timeout", true, "10"},     {"trade_issue", false, ""},
    {"trade_participant", false, ""}, {"trade_status", true, "0"},
    {"repotrade_status", true, "0"},  {"report_file", false, "ZUQTradeReport.txt"},
    {"field_delimeter", false, ";"},  {"print_header", true, "0"},
    {"date_format", true, "0"},       {"log_rows", true, "1"},
    {"max_store_mb", true, nullptr},  // the store's limit: sized to the machine
};

std::vector<std::string_view> optionNames() {
  std::vector<std::string_view> names;
  for (const OptionKey& key : kOptionKeys) names.push_back(key.name);
  return names;
}

std::string readValue(const char* section, std::string_view key, const char* iniPath) {
  char buffer[256];
  platform::getProfileString(section, std::string(key).c_str(), "", buffer, sizeof buffer, iniPath);
  return buffer;
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

}  // namespace

std::vector<std::string> configurationWarnings(const char* iniPath) {
  std::vector<std::string> warnings;
  const platform::ProfileKeys keys = platform::readProfileKeys(kOptions, iniPath);
  if (!keys.fileRead) return warnings;
  if (!keys.sectionFound) {
    warnings.push_back(std::string("no section [options] in '") + iniPath +
                       "': every setting takes its default");
  }
  const std::vector<std::string_view> known = optionNames();
  for (const std::string& key : keys.keys) {
    if (platform::isKnownKey(key, known)) continue;
    std::string warning = "unknown key '" + key + "' in [options] is ignored";
    const std::string nearest = platform::nearestKey(key, known);
    if (!nearest.empty()) warning += ": did you mean '" + nearest + "'?";
    warnings.push_back(warning);
  }
  for (const OptionKey& option : kOptionKeys) {
    if (!option.integer || !present(keys, option.name)) continue;
    const std::string value = readValue(kOptions, option.name, iniPath);
    if (isNumber(value)) continue;
    const std::string name(option.name);
    const auto used =
        static_cast<int32_t>(platform::getProfileInt(kOptions, name.c_str(), 0, iniPath));
    warnings.push_back(
        value.empty()
            ? name + " is empty: " +
                  (option.defaultValue ? std::string(option.defaultValue) + " is used"
                                       : std::string("its default is used"))
            : name + "=" + value + " is not a number: " + std::to_string(used) + " is used");
  }
  if (!present(keys, "trade_participant")) {
    warnings.push_back(
        "no trade_participant in [options]: the trades of every firm will be reported");
  }
  if (!present(keys, "trade_issue")) {
    warnings.push_back("no trade_issue in [options]: the trades of every issue will be reported");
  }
  return warnings;
}

std::vector<std::string> libraryTableFiles(const char* iniPath) {
  if (!readValue(kLibrarySection, "server", iniPath).empty()) return {};
  const std::string dataDir = readValue(kLibrarySection, "data_dir", iniPath);
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

void printSettings(const char* iniPath) {
  const platform::ProfileKeys keys = platform::readProfileKeys(kOptions, iniPath);
  std::printf("[options]\n");
  for (const OptionKey& option : kOptionKeys) {
    const std::string name(option.name);
    const bool given = present(keys, option.name);
    std::string value;
    if (option.integer) {
      if (given || option.defaultValue != nullptr) {
        const int32_t number = option.defaultValue ? std::stoi(option.defaultValue) : 0;
        value = std::to_string(
            static_cast<int32_t>(platform::getProfileInt(kOptions, name.c_str(), number, iniPath)));
      } else {
        value = "(sized to the machine)";
      }
    } else {
      value = "'" + (given ? readValue(kOptions, option.name, iniPath) : option.defaultValue) + "'";
    }
    std::printf("  %s = %s%s\n", name.c_str(), value.c_str(), given ? "" : " (default)");
  }
  const platform::ProfileKeys library = platform::readProfileKeys(kLibrarySection, iniPath);
  std::printf("[zuqonl] (read by the online library)\n");
  for (const std::string& key : library.keys) {
    std::printf("  %s = %s\n", key.c_str(), readValue(kLibrarySection, key, iniPath).c_str());
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

void checkDataSource(const char* iniPath, CheckReport& report) {
  const std::string server = readValue(kLibrarySection, "server", iniPath);
  if (!server.empty()) {
    report.passed("data server '" + server + "' is named (the check does not contact it)");
    return;
  }
  const std::string dataDir = readValue(kLibrarySection, "data_dir", iniPath);
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
  for (const std::string& table : libraryTableFiles(iniPath)) checkTableFile(table, report);
}

void checkReportFolder(const char* iniPath, CheckReport& report) {
  char buffer[256];
  platform::getProfileString(kOptions, "report_file", "ZUQTradeReport.txt", buffer, sizeof buffer,
                             iniPath);
  const std::string reportFile = buffer;
  if (reportFile.empty()) {
    report.problem("report_file is empty: a run can't write its report");
    return;
  }
  const std::string path = platform::absolutePath(reportFile);
  if (platform::sameFile(reportFile, iniPath)) {
    report.problem("report_file '" + path + "' is the INI file itself");
  }
  for (const std::string& table : libraryTableFiles(iniPath)) {
    if (platform::sameFile(reportFile, table)) {
      report.problem("report_file '" + path + "' is the table file '" + table + "'");
    }
  }
  const std::string folder = platform::pathBesideFile(path, ".");
  if (const int error = platform::folderWriteError(folder); error != 0) {
    report.problem("report folder '" + folder +
                   "' cannot take the report: " + platform::errnoText(error));
  } else {
    report.passed("report folder '" + folder + "' exists and may be written");
  }
}

}  // namespace

int checkConfiguration(const char* iniPath) {
  std::printf("Checking '%s' as a run reads it; no data server is contacted.\n", iniPath);
  CheckReport report;
  int error = 0;
  std::FILE* ini = platform::openRegularFile(iniPath, &error);
  if (ini == nullptr) {
    report.problem(std::string("INI file '") + iniPath + "' cannot be read: " +
                   platform::errnoText(error) + "; every setting takes its default");
  } else {
    std::fclose(ini);
    if (!platform::readProfileKeys(kOptions, iniPath).fileRead) {
      report.problem(std::string("INI file '") + iniPath +
                     "' is not read (saved as UTF-16, or larger than 16 MiB): save it as ANSI");
    }
  }
  printSettings(iniPath);
  for (const std::string& warning : configurationWarnings(iniPath)) report.warning(warning);
  checkReportFolder(iniPath, report);
  checkDataSource(iniPath, report);
  if (report.found() == 0) {
    std::printf("Nothing found: a run with these settings can start.\n");
    return 0;
  }
  std::printf("Found %d thing%s to look at (exit status %d).\n", report.found(),
              report.found() == 1 ? "" : "s", kExitCheckFoundSomething);
  return kExitCheckFoundSomething;
}
