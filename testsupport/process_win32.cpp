// Child processes on Windows: CreateProcess with the output files as
// inherited handles, each child in a process group of its own so that
// Ctrl+Break reaches it alone.
#include <windows.h>

#include <system_error>
#include <vector>

#include "platform/error_text.h"
#include "testsupport/process.h"

namespace testsupport {

namespace {

HANDLE native(std::uintptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

constexpr int kStartAttempts = 5;

// One argument as the C runtime's parser reads it back: quoted, with the
// backslashes before a quote (and before the closing quote) doubled.
std::string quoted(const std::string& arg) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) return arg;
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

std::string lastError(const std::string& what) {
  const DWORD code = GetLastError();
  const std::string message =
      platform::errorText(std::error_code(static_cast<int>(code), std::system_category()));
  return what + ": " + message + " (error " + std::to_string(code) + ")";
}

HANDLE inheritableFile(const std::string& path, DWORD access, DWORD creation) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     &inherit, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool Process::start(const std::string& program, const std::vector<std::string>& args,
                    const std::string& workDir, const std::string& outputPath,
                    const std::string& errorPath, std::string* err) {
  // Absolute: a drive and a separator (C:\...), or a share (\\host\...).
  const bool absolute =
      (program.size() > 2 && program[1] == ':' && (program[2] == '\\' || program[2] == '/')) ||
      program.rfind("\\\\", 0) == 0 || program.rfind("//", 0) == 0;
  const std::string path = absolute ? program : executableFolder() + "\\" + program;
  std::string commandLine = quoted(path);
  for (const std::string& arg : args) commandLine += " " + quoted(arg);

  const HANDLE input = inheritableFile("NUL", GENERIC_READ, OPEN_EXISTING);
  const HANDLE output = inheritableFile(outputPath, GENERIC_WRITE, CREATE_ALWAYS);
  const HANDLE error =
      outputPath == errorPath ? output : inheritableFile(errorPath, GENERIC_WRITE, CREATE_ALWAYS);
  bool started = false;
  if (output == INVALID_HANDLE_VALUE || error == INVALID_HANDLE_VALUE) {
    *err = lastError("cannot open the output files of '" + path + "'");
  } else {
    // Only the three standard handles go to the child: sockets and files the
    // test holds (all inheritable by default) stay with the test.
    HANDLE inherited[] = {input, output, error};
    const DWORD inheritedCount = error == output ? 2 : 3;
    SIZE_T listSize = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<char> list(listSize);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = error;
    startup.lpAttributeList = attributes;
    PROCESS_INFORMATION info{};
    const bool listMade = InitializeProcThreadAttributeList(attributes, 1, 0, &listSize) != 0;
    started = listMade &&
              UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                        inheritedCount * sizeof(HANDLE), nullptr, nullptr);
    // Wine, busy with many tests at once, now and then refuses to start a
    // process with ERROR_INTERNAL_ERROR before the program has run at all:
    // the start is then tried again, a few times.
    for (int attempt = 1; started; ++attempt) {
      if (CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                         CREATE_NEW_PROCESS_GROUP | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                         workDir.c_str(), &startup.StartupInfo, &info)) {
        break;
      }
      if (GetLastError() != ERROR_INTERNAL_ERROR || attempt == kStartAttempts) started = false;
      if (started) Sleep(100);
    }
    if (listMade) DeleteProcThreadAttributeList(attributes);
    if (started) {
      CloseHandle(info.hThread);
      native_ = reinterpret_cast<std::uintptr_t>(info.hProcess);
      id_ = info.dwProcessId;
      running_ = true;
      killed_ = false;
      exitStatus_ = -1;
    } else {
      *err = lastError("cannot start '" + path + "'");
    }
  }
  for (HANDLE handle : {input, output, error == output ? INVALID_HANDLE_VALUE : error}) {
    if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
  return started;
}

void Process::reap(bool block) {
  if (!running_) return;
  if (WaitForSingleObject(native(native_), block ? INFINITE : 0) != WAIT_OBJECT_0) return;
  DWORD code = 0;
  GetExitCodeProcess(native(native_), &code);
  CloseHandle(native(native_));
  native_ = 0;
  running_ = false;
  exitStatus_ = killed_ ? -1 : static_cast<int>(code);
}

bool Process::ended() {
  reap(false);
  return !running_;
}

void Process::requestStop() {
  if (!running_) return;
  GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, id_);
  // Without a console shared with the child, Ctrl+Break reaches no one.
  const HANDLE stop = OpenEventA(EVENT_MODIFY_STATE, FALSE, stopEventName(id_).c_str());
  if (stop != nullptr) {
    SetEvent(stop);
    CloseHandle(stop);
  }
}

void Process::sendSignal(int signal) {
  if (signal == 2 /* SIGINT */ || signal == 15 /* SIGTERM */) {
    requestStop();
  } else {
    kill();
  }
}

void Process::kill() {
  if (!running_) return;
  killed_ = true;
  TerminateProcess(native(native_), 137);
  reap(true);
}

std::string executableFolder() {
  char path[MAX_PATH * 4];
  const DWORD size = GetModuleFileNameA(nullptr, path, sizeof path);
  // The bytes of the ANSI call as they are: no round trip through another
  // encoding that would change a folder name beyond ASCII.
  const std::string file(path, size);
  return file.substr(0, file.find_last_of("\\/"));
}

std::string executableName(const std::string& name) { return name + ".exe"; }

}  // namespace testsupport
