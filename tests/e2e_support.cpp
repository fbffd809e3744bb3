#include "e2e_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <thread>

#ifndef _WIN32
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace e2e {

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

// A folder the build names relative to the test executables (a Windows
// build copies its test data beside them) or absolute.
std::string dataFolder(const std::string& folder) {
  if (fs::path(folder).is_absolute()) return folder;
  return testsupport::executableFolder() + "/" + folder;
}

}  // namespace

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
  std::remove((workDir + "/.run-output").c_str());
  return result;
}

#ifndef _WIN32
namespace {

// Waits for `child` to end, killing it after `limitSeconds`; its exit status,
// or -1 when it was killed or ended by a signal.
int exitStatusOf(pid_t child, int limitSeconds) {
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(limitSeconds);
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

RunResult runWithLogReaderGone(const std::string& program, const std::vector<std::string>& args,
                               const std::string& workDir, size_t keptBytes, int limitSeconds) {
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  int ends[2];
  if (pipe(ends) != 0) throw std::runtime_error("pipe failed");
  const pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    signal(SIGPIPE, SIG_DFL);  // as a shell starts a pipeline's commands
    if (chdir(workDir.c_str()) != 0) _exit(127);
    dup2(ends[1], 1);
    dup2(ends[1], 2);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(ends[1]);
  RunResult result;
  result.log.resize(keptBytes);
  size_t got = 0;
  while (got < keptBytes) {
    const ssize_t n = read(ends[0], result.log.data() + got, keptBytes - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  result.log.resize(got);
  close(ends[0]);
  result.exitStatus = exitStatusOf(child, limitSeconds);
  return result;
}

RunResult underFileSizeLimit(uint64_t bytes, const std::function<RunResult()>& run) {
  rlimit unlimited;
  getrlimit(RLIMIT_FSIZE, &unlimited);
  rlimit limited = unlimited;
  limited.rlim_cur = static_cast<rlim_t>(bytes);
  setrlimit(RLIMIT_FSIZE, &limited);
  const auto previous = signal(SIGXFSZ, SIG_DFL);
  const RunResult result = run();
  signal(SIGXFSZ, previous);
  setrlimit(RLIMIT_FSIZE, &unlimited);
  return result;
}

#endif  // _WIN32

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

std::string BackgroundProcess::output() const { return testsupport::readTextFile(outputPath_); }

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

void BackgroundProcess::sendSignal(int signal) {
  if (!process_.ended()) process_.sendSignal(signal);
}

RunResult BackgroundProcess::wait(int limitSeconds) {
  if (!process_.waitFor(std::chrono::seconds(limitSeconds))) process_.kill();
  RunResult result;
  result.exitStatus = process_.exitStatus();
  result.endSignal = process_.endSignal();
  result.log = output();
  return result;
}

RunResult runReport(const TempDir& box, const std::string& ini, int limitSeconds) {
  std::vector<std::string> args;
  if (!ini.empty()) args.push_back(ini);
  return runProgram(ZUQ_PROGRAM_PATH, args, box.dir(), limitSeconds);
}

#ifndef _WIN32
namespace {

// The setpriv of a plain Debian system (util-linux), empty when there is none.
std::string setprivPath() {
  for (const char* path : {"/usr/bin/setpriv", "/bin/setpriv"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return "";
}

const passwd* nobody() { return getpwnam("nobody"); }

RunResult runAs(const std::vector<std::string>& commandLine, const std::string& workDir) {
  return runProgram(commandLine.front(), {commandLine.begin() + 1, commandLine.end()}, workDir);
}

}  // namespace

NoCoreDumps::NoCoreDumps() {
  rlimit core;
  getrlimit(RLIMIT_CORE, &core);
  soft_ = core.rlim_cur;
  core.rlim_cur = 0;
  setrlimit(RLIMIT_CORE, &core);
}

NoCoreDumps::~NoCoreDumps() {
  rlimit core;
  getrlimit(RLIMIT_CORE, &core);
  core.rlim_cur = static_cast<rlim_t>(soft_);
  setrlimit(RLIMIT_CORE, &core);
}

bool OrdinaryUser::testsRunAsRoot() { return geteuid() == 0; }

std::string OrdinaryUser::unavailable() {
  if (!testsRunAsRoot()) return "";
  static const std::string reason = [] {
    if (setprivPath().empty()) return std::string("no setpriv to run the program as nobody");
    if (nobody() == nullptr) return std::string("no user nobody");
    TempDir box;
    give(box.dir());
    const RunResult run = runAs(commandLine({"--version"}), box.dir());
    if (run.exitStatus != 0) return "nobody cannot run the program: " + run.log;
    return std::string();
  }();
  return reason;
}

void OrdinaryUser::give(const std::string& path) {
  const passwd* user = nobody();
  if (!testsRunAsRoot() || user == nullptr) return;
  auto giveOne = [&](const std::string& each) {
    if (lchown(each.c_str(), user->pw_uid, user->pw_gid) != 0) {
      ADD_FAILURE() << "cannot give " << each << " to nobody";
    }
  };
  giveOne(path);
  if (!fs::is_directory(fs::symlink_status(path))) return;
  for (const auto& entry : fs::recursive_directory_iterator(path)) giveOne(entry.path().string());
}

std::vector<std::string> OrdinaryUser::commandLine(const std::vector<std::string>& args) {
  std::vector<std::string> line;
  const passwd* user = nobody();
  if (testsRunAsRoot() && user != nullptr) {
    line = {setprivPath(), "--reuid=" + std::to_string(user->pw_uid),
            "--regid=" + std::to_string(user->pw_gid), "--clear-groups", "--"};
  }
  line.push_back(ZUQ_PROGRAM_PATH);
  line.insert(line.end(), args.begin(), args.end());
  return line;
}

RunResult OrdinaryUser::runReport(const TempDir& box, const std::string& ini) {
  return runAs(commandLine({ini}), box.dir());
}
#endif  // _WIN32

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

std::string golden(const std::string& name) {
  return testsupport::readFile(dataFolder(ZUQ_GOLDEN_DIR) + "/" + name);
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
  return testsupport::readFile(dataFolder(ZUQ_EXAMPLES_DIR) + "/" + name);
}

}  // namespace e2e
