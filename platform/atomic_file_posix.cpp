// Whole-or-nothing files on POSIX: a temporary file beside the target, then
// rename(2), which replaces the target in one step.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/atomic_file.h"

namespace platform {

namespace {

// The same bound the kernel puts on a chain of symbolic links.
constexpr int kMaxLinkHops = 40;

// Whether the symbolic link `link` is one of the kernel's links to a
// process's open files (/dev/stdout leads to /proc/self/fd/1). Such a link
// names whatever the descriptor holds, so the name it shows is no file to
// replace: /dev/stdout redirected to a file is written through, as before.
bool isOpenFileLink(const std::string& link) {
#ifdef __linux__
  constexpr long kProcFilesystem = 0x9fa0;
  const size_t slash = link.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : link.substr(0, slash + 1);
  struct statfs filesystem;
  return statfs(folder.c_str(), &filesystem) == 0 && filesystem.f_type == kProcFilesystem;
#else
  return link.starts_with("/dev/fd/");
#endif
}

// The name a chain of symbolic links starting at `path` ends at; that name
// need not exist (a link may point at a file still to be created). Nothing
// when the chain cannot be followed (a loop, an unreadable link) or passes
// through a link to an open file.
std::optional<std::string> finalName(std::string path) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    if (isOpenFileLink(path)) return std::nullopt;
    std::vector<char> target(static_cast<size_t>(status.st_size > 0 ? status.st_size : 255) + 1);
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<size_t>(length) == target.size()) return std::nullopt;
    std::string next(target.data(), static_cast<size_t>(length));
    const size_t slash = path.rfind('/');
    if (next.front() != '/' && slash != std::string::npos) next.insert(0, path, 0, slash + 1);
    path = next;
  }
  return std::nullopt;
}

// The temporary file being written, for a stop request (Ctrl+C, SIGTERM)
// that arrives meanwhile: it removes the file, which would otherwise be left
// beside the report, and then ends the process as the signal would have.
// One file at a time, written by one thread; the handler may run on any.
constexpr int kStopSignals[] = {SIGINT, SIGTERM};
char pendingTemp[4096];
volatile std::sig_atomic_t pendingTempSet = 0;
struct sigaction previousActions[std::size(kStopSignals)];
bool handlerInstalled[std::size(kStopSignals)] = {};

extern "C" void removePendingTempAndStop(int signal) {
  if (pendingTempSet) unlink(pendingTemp);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void guardPendingTemp(const std::string& temp) {
  if (temp.size() >= sizeof pendingTemp) return;  // left behind if stopped
  std::memcpy(pendingTemp, temp.c_str(), temp.size() + 1);
  pendingTempSet = 1;
  struct sigaction action {};
  action.sa_handler = removePendingTempAndStop;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    // A signal the process ignores (or handles itself) is left as it is.
    handlerInstalled[i] = sigaction(kStopSignals[i], nullptr, &previousActions[i]) == 0 &&
                          previousActions[i].sa_handler == SIG_DFL &&
                          sigaction(kStopSignals[i], &action, nullptr) == 0;
  }
}

void releasePendingTemp() {
  for (size_t i = 0; i < std::size(kStopSignals); ++i) {
    if (handlerInstalled[i]) sigaction(kStopSignals[i], &previousActions[i], nullptr);
    handlerInstalled[i] = false;
  }
  pendingTempSet = 0;
}

// Creates the temporary file for `target`. Mode 0666 lets the umask give it
// what creating `target` would; `replaced` (the file it is to replace, when
// there is one) lends its own mode instead.
bool openTemporary(const std::string& target, const struct stat* replaced, AtomicFile* file) {
  const std::string stem = target + ".tmp-" + std::to_string(getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = stem + std::to_string(attempt);
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;  // left by a killed run of the same pid
    if (fd < 0) return false;
    if (replaced != nullptr) fchmod(fd, replaced->st_mode & 07777);
    file->stream = fdopen(fd, "wb");
    if (file->stream == nullptr) {
      close(fd);
      unlink(temp.c_str());
      return false;
    }
    file->path = target;
    file->tempPath = temp;
    guardPendingTemp(temp);
    return true;
  }
  return false;
}

}  // namespace

bool openAtomicFile(const char* path, AtomicFile* file) {
  *file = AtomicFile{};
  if (path == nullptr || *path == '\0') return false;
  if (const std::optional<std::string> target = finalName(path)) {
    struct stat status;
    errno = 0;
    const bool exists = stat(target->c_str(), &status) == 0;
    if ((exists && S_ISREG(status.st_mode)) || (!exists && errno == ENOENT)) {
      if (openTemporary(*target, exists ? &status : nullptr, file)) return true;
      // Only a folder we may not create in (or a name with no room for the
      // suffix) is written directly; a full disk must not cost the old file.
      if (errno != EACCES && errno != EPERM && errno != ENAMETOOLONG) return false;
    }
  }
  file->path = path;
  file->stream = std::fopen(path, "wb");
  return file->stream != nullptr;
}

void writeBehind(AtomicFile* file) {
#ifdef SYNC_FILE_RANGE_WRITE
  if (file->tempPath.empty() || std::fflush(file->stream) != 0) return;
  // Only a start: a failure here shows again in the closing fsync.
  sync_file_range(fileno(file->stream), 0, 0, SYNC_FILE_RANGE_WRITE);
#else
  (void)file;
#endif
}

bool closeAtomicFile(AtomicFile* file, bool complete) {
  if (file->stream == nullptr) return false;
  bool ok = complete && std::fflush(file->stream) == 0 && std::ferror(file->stream) == 0;
  if (ok && !file->tempPath.empty()) ok = fsync(fileno(file->stream)) == 0;
  if (std::fclose(file->stream) != 0) ok = false;
  file->stream = nullptr;
  if (file->tempPath.empty()) return ok;
  if (ok) ok = std::rename(file->tempPath.c_str(), file->path.c_str()) == 0;
  if (!ok) unlink(file->tempPath.c_str());
  releasePendingTemp();
  return ok;
}

}  // namespace platform
