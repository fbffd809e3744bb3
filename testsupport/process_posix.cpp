// Child processes on POSIX: fork and exec, reaped with waitpid.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/error_text.h"
#include "testsupport/process.h"

namespace testsupport {

bool Process::start(const std::string& program, const std::vector<std::string>& args,
                    const std::string& workDir, const std::string& outputPath,
                    const std::string& errorPath, std::string* err) {
  const std::string path =
      std::filesystem::path(program).is_absolute() || program.find('/') != std::string::npos
          ? program
          : executableFolder() + "/" + program;
  // Everything the child needs is made before fork: after it, only calls
  // that are safe in a copy of a threaded process.
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  const bool oneFile = outputPath == errorPath;
  const pid_t child = fork();
  if (child < 0) {
    *err = "cannot start '" + path + "': " + platform::errnoText(errno);
    return false;
  }
  if (child == 0) {
    const int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int errFd = oneFile ? out : open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0 || errFd < 0 || chdir(workDir.c_str()) != 0) _exit(127);
    dup2(out, 1);
    dup2(errFd, 2);
    execv(path.c_str(), argv.data());
    _exit(127);
  }
  native_ = static_cast<std::uintptr_t>(child);
  id_ = static_cast<unsigned long>(child);
  running_ = true;
  killed_ = false;
  exitStatus_ = -1;
  endSignal_ = 0;
  return true;
}

void Process::reap(bool block) {
  if (!running_) return;
  int status = 0;
  const pid_t pid = static_cast<pid_t>(native_);
  if (waitpid(pid, &status, block ? 0 : WNOHANG) != pid) return;
  collect(status);
}

void Process::collect(int status) {
  running_ = false;
  exitStatus_ = !killed_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  endSignal_ = !killed_ && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

bool Process::ended() {
  reap(false);
  return !running_;
}

void Process::requestStop() { sendSignal(SIGTERM); }

void Process::sendSignal(int signal) {
  if (!running_) return;
  const pid_t pid = static_cast<pid_t>(native_);
  ::kill(pid, signal);
  if (signal != SIGSTOP) return;
  // A signal is only queued when kill returns: the process may still run on
  // another core. Waiting for it to stop (or end) lets the caller look at
  // what it left as it stands.
  int status = 0;
  if (waitpid(pid, &status, WUNTRACED) != pid || WIFSTOPPED(status)) return;
  collect(status);
}

void Process::kill() {
  if (!running_) return;
  killed_ = true;
  ::kill(static_cast<pid_t>(native_), SIGKILL);
  reap(true);
}

std::string executableFolder() {
  std::error_code ec;
  return std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().string();
}

std::string executableName(const std::string& name) { return name; }

}  // namespace testsupport
