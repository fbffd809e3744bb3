#include "e2e_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace e2e {

namespace fs = std::filesystem;

namespace {

// The output of a child process with its lines ended by LF: a Windows
// console program ends them with CR LF.
std::string withUnixLineEnds(std::string text) {
#ifdef _WIN32
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
#else
  return text;
#endif
}

// A folder the build names relative to the test executables (a Windows
// build copies its test data beside them) or absolute.
std::string dataFolder(const std::string& folder) {
  if (fs::path(folder).is_absolute()) return folder;
  return testsupport::executableFolder() + "/" + folder;
}

}  // namespace

Sandbox::Sandbox() : folder_("zuq-e2e"), dir_(folder_.dir()) {}

void Sandbox::write(const std::string& name, const std::string& content) const {
  folder_.write(name, content);
}

std::string Sandbox::read(const std::string& name) const { return fileText(path(name)); }

bool Sandbox::exists(const std::string& name) const { return fs::exists(path(name)); }

std::vector<std::string> RunResult::lines() const {
  std::vector<std::string> result;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

bool RunResult::hasLine(const std::string& line) const {
  for (const std::string& each : lines()) {
    if (each == line) return true;
  }
  return false;
}

RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::string& workDir, int limitSeconds) {
  BackgroundProcess process(program, args, workDir, ".run-output");
  RunResult result = process.wait(limitSeconds);
  std::error_code ignored;
  fs::remove(workDir + "/.run-output", ignored);
  return result;
}

BackgroundProcess::BackgroundProcess(const std::string& program,
                                     const std::vector<std::string>& args,
                                     const std::string& workDir, const std::string& outputFile)
    : outputPath_(workDir + "/" + outputFile) {
  std::string err;
  if (!process_.start(program, args, workDir, outputPath_, outputPath_, &err)) {
    ADD_FAILURE() << err;
  }
}

BackgroundProcess::~BackgroundProcess() { process_.kill(); }

std::string BackgroundProcess::output() const { return withUnixLineEnds(fileText(outputPath_)); }

bool BackgroundProcess::waitForOutput(const std::string& text, int limitSeconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
  for (;;) {
    // Looked at after checking for the end, so that the last output counts.
    const bool over = process_.ended() || std::chrono::steady_clock::now() > deadline;
    if (output().find(text) != std::string::npos) return true;
    if (over) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void BackgroundProcess::killAndWait(int signal) {
  process_.sendSignal(signal);
  process_.waitFor(std::chrono::hours(1));
}

void BackgroundProcess::kill() { process_.kill(); }

RunResult BackgroundProcess::stop(int limitSeconds) {
  process_.requestStop();
  return wait(limitSeconds);
}

RunResult BackgroundProcess::wait(int limitSeconds) {
  if (!process_.waitFor(std::chrono::seconds(limitSeconds))) process_.kill();
  RunResult result;
  result.exitStatus = process_.exitStatus();
  result.log = output();
  return result;
}

RunResult runReport(const Sandbox& box, const std::string& ini, int limitSeconds) {
  std::vector<std::string> args;
  if (!ini.empty()) args.push_back(ini);
  return runProgram(ZUQ_PROGRAM_PATH, args, box.dir(), limitSeconds);
}

std::vector<std::string> tradeColumns() {
  return {"@rowid",        "@op",
          "@text",         "@ms",
          "@code",         "rev",
          "init_name",     "init_action",
          "init_pair",     "init_memo",
          "conf_name",     "conf_action",
          "conf_pair",     "conf_memo",
          "issue_name",    "status",
          "price",         "qty",
          "volume",        "trade_moment",
          "affirm_moment", "price_currency",
          "price_rate",    "payment_currency",
          "payment_rate",  "delivery_date",
          "clear",         "dcc",
          "type",          "type_ext",
          "trade_ref",     "repo_action",
          "repurchase"};
}

TableRow trade(const TableRow& fields) {
  TableRow row = {{"rev", "1"},
                  {"init_name", "F1"},
                  {"init_action", "B"},
                  {"init_pair", "C001"},
                  {"init_memo", "hello"},
                  {"conf_name", "F2"},
                  {"conf_action", "S"},
                  {"conf_pair", "C777"},
                  {"conf_memo", "bye"},
                  {"issue_name", "XYZ1"},
                  {"status", "2"},
                  {"price", "101.5"},
                  {"qty", "10"},
                  {"volume", "1015"},
                  {"trade_moment", "2003-12-15 10:30:15"},
                  {"affirm_moment", "2003-12-15 10:31:00"},
                  {"price_currency", "PPP"},
                  {"price_rate", "1"},
                  {"payment_currency", "XXX"},
                  {"payment_rate", "1"},
                  {"delivery_date", "2003-12-17"},
                  {"clear", "CL"},
                  {"dcc", "D1"},
                  {"type", "T"},
                  {"type_ext", "R1"},
                  {"trade_ref", "77"},
                  {"repo_action", "1"},
                  {"repurchase", "1"}};
  for (const auto& [name, value] : fields) row[name] = value;
  return row;
}

namespace {

std::string csvField(const std::string& value) {
  if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
  std::string quoted = "\"";
  for (char c : value) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

}  // namespace

std::string tableFile(const std::vector<std::string>& columns, const std::vector<TableRow>& rows) {
  std::string text;
  auto addRecord = [&](auto valueOf) {
    for (size_t i = 0; i < columns.size(); ++i) {
      if (i) text += ',';
      text += csvField(valueOf(columns[i]));
    }
    text += "\r\n";
  };
  addRecord([](const std::string& name) { return name; });
  for (const TableRow& row : rows) {
    addRecord([&](const std::string& name) {
      const auto found = row.find(name);
      return found == row.end() ? std::string() : found->second;
    });
  }
  return text;
}

std::string iniFile(const std::string& options) {
  return "[zuqonl]\r\ndata_dir=data\r\n[options]\r\n" + options;
}

std::string networkIniFile(const std::string& server, const std::string& options,
                           const std::string& library) {
  return "[zuqonl]\r\nserver=" + server + "\r\n" + library + "[options]\r\n" + options;
}

std::string maskHeaderStamp(const std::string& report) {
  static const std::regex stamp(R"((\d{8}|\d\d/\d\d/\d{4}) \d\d:\d\d:\d\d\r\n)");
  const size_t end = report.find("\r\n");
  if (end == std::string::npos) return report;
  const std::string header = report.substr(0, end + 2);
  return std::regex_replace(header, stamp, "<stamp>\r\n") + report.substr(end + 2);
}

std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string logText(const std::string& text) { return withUnixLineEnds(text); }

std::string golden(const std::string& name) {
  return fileText(dataFolder(ZUQ_GOLDEN_DIR) + "/" + name);
}

void expectGolden(const std::string& name, const std::string& actual) {
  const char* update = std::getenv("ZUQ_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(dataFolder(ZUQ_GOLDEN_DIR) + "/" + name, std::ios::binary) << actual;
    return;
  }
  EXPECT_EQ(actual, golden(name)) << "golden file " << name << " (ZUQ_UPDATE_GOLDEN=1 rewrites it)";
}

std::string exampleFile(const std::string& name) {
  return fileText(dataFolder(ZUQ_EXAMPLES_DIR) + "/" + name);
}

}  // namespace e2e
