// Child processes for the tests: started in a folder with their output in
// files, waited for with a limit, asked to stop, or ended at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// One child process. Not thread-safe: one test thread drives it.
class Process {
 public:
  Process() = default;
  // A process still running is ended at once (kill) and waited for.
  ~Process();
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts `program` with `args` in the folder `workDir`, its standard
  // output going to the file `outputPath` and its standard error to
  // `errorPath` (the same path: both into one file); both files are
  // truncated. A relative `program` is taken from the folder of the running
  // test executable. False, with a finished message in *err, when the
  // process cannot be started.
  bool start(const std::string& program, const std::vector<std::string>& args,
             const std::string& workDir, const std::string& outputPath,
             const std::string& errorPath, std::string* err);

  // True once the process has ended (or was never started); never blocks.
  bool ended();
  // Waits up to `limit` for the end; true once the process has ended.
  bool waitFor(std::chrono::milliseconds limit);
  // Asks the process to stop as an operator would: SIGTERM on POSIX; on
  // Windows Ctrl+Break to its process group, and the event named by
  // stopEventName for a process with no console to receive it.
  void requestStop();
  // POSIX: sends `signal`; SIGSTOP returns once the process has stopped (or
  // ended). Windows has no signals: SIGINT and SIGTERM ask for a stop
  // (requestStop), any other number ends the process (kill).
  void sendSignal(int signal);
  // Ends the process at once (SIGKILL, TerminateProcess) and waits for it.
  void kill();

  // The exit status once ended: -1 when the process was ended by a signal
  // or by kill().
  int exitStatus() const { return exitStatus_; }
  // POSIX: the signal that ended the process once ended by one (not by
  // kill()); 0 otherwise, and always on Windows.
  int endSignal() const { return endSignal_; }
  // The system's process id; 0 before start.
  unsigned long id() const { return id_; }

 private:
  void reap(bool block);     // collects the exit status once the process ended
  void collect(int status);  // POSIX: takes in what waitpid told of the end

  std::uintptr_t native_ = 0;  // POSIX: the pid; Windows: the process HANDLE
  unsigned long id_ = 0;
  bool running_ = false;
  bool killed_ = false;
  int exitStatus_ = -1;
  int endSignal_ = 0;
};

// The name of the event a Windows server without a console waits on for a
// stop request ("Local\zuq-stop-<pid>"); servers of the test bed honour it
// as they honour Ctrl+Break.
std::string stopEventName(unsigned long processId);

// The folder that holds the running executable.
std::string executableFolder();

// The executable file name of `name` on this platform ("name" or "name.exe").
std::string executableName(const std::string& name);

}  // namespace testsupport
