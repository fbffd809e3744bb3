// Whole-or-nothing files on POSIX: a temporary file beside the target, then
// rename(2), which replaces the target in one step; or, where the target may
// be written but not replaced, a scratch file copied into it once its length
// is reserved.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/atomic_file_internal.h"
#include "platform/stop_request.h"

namespace platform {

using namespace atomic_file_detail;

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

// The folder part of `path`, with its last slash ("" for a bare name).
std::string folderPrefix(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Creates the temporary file for `target`, beside it under a short name of
// its own (ZUQTradeReport-PID-N.tmp), which fits in the folder whatever the
// length of the report's name. Mode 0666 lets the umask give it
// what creating `target` would; `replaced` (the file it is to replace, when
// there is one) lends its own owner, group and mode instead, as far as this
// process may set them (an ordinary user keeps only a group it belongs to).
bool openTemporary(const std::string& target, const struct stat* replaced,
                   AtomicFile::Handles* file) {
  const std::string stem =
      folderPrefix(target) + "ZUQTradeReport-" + std::to_string(getpid()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = stem + std::to_string(attempt) + ".tmp";
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EEXIST) continue;  // left by a killed run of the same pid
    if (fd < 0) return false;
    if (replaced != nullptr) {
      // Before the mode: a change of owner clears the set-id bits. Where
      // neither is allowed, the file keeps what a new file gets.
      const bool kept = fchown(fd, replaced->st_uid, replaced->st_gid) == 0 ||
                        fchown(fd, static_cast<uid_t>(-1), replaced->st_gid) == 0;
      (void)kept;
      fchmod(fd, replaced->st_mode & 07777);
    }
    file->stream = fdopen(fd, "wb");
    if (file->stream == nullptr) {
      close(fd);
      unlink(temp.c_str());
      return false;
    }
    file->path = target;
    file->tempPath = temp;
    // A stop request that cannot wait for the writer (a second one) removes it.
    removeOnImmediateStop(temp);
    return true;
  }
  return false;
}

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Whether a new file may take the place of `existing`, found at `target`: in
// a folder with the sticky bit (such as /tmp) only the owner of the file or
// of the folder, or root, may replace it.
bool mayReplace(const std::string& target, const struct stat& existing) {
  struct stat folder;
  if (stat(folderOf(target).c_str(), &folder) != 0 || (folder.st_mode & S_ISVTX) == 0) return true;
  const uid_t self = geteuid();
  return self == 0 || existing.st_uid == self || folder.st_uid == self;
}

// A file for the whole report before it goes into place, in the system's
// temporary folder ($TMPDIR, else /tmp). Its name is removed at once, so it
// goes with the process, however that ends.
std::FILE* openScratch() {
  const char* folder = std::getenv("TMPDIR");
  std::string name = folder != nullptr && *folder != '\0' ? folder : "/tmp";
  name += "/ZUQTradeReport-XXXXXX";
  const int fd = mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) return nullptr;
  unlink(name.c_str());
  std::FILE* stream = fdopen(fd, "w+b");
  if (stream == nullptr) close(fd);
  return stream;
}

// The report may be written but not replaced: it is to be rewritten in
// place, through `fd`, once the whole of it stands in a scratch file.
bool openInPlace(const std::string& target, int fd, AtomicFile::Handles* file) {
  file->stream = openScratch();
  if (file->stream == nullptr) {
    close(fd);
    return false;
  }
  file->path = target;
  file->inPlace = fd;
  return true;
}

// Makes the file `fd`, now `length` bytes long, `size` bytes long when that
// is more, taking the disk space for it now. False, with the length as it
// was and the bytes untouched, when the disk or a file-size limit refuses.
bool reserve(int fd, off_t length, off_t size) {
  if (size <= length) return true;
  const int error = posix_fallocate(fd, length, size - length);
  if (error == 0) return true;
  // A refusal may come after part of the length was taken.
  const bool restored = ftruncate(fd, length) == 0;
  (void)restored;
  errno = error;
  return false;
}

}  // namespace

namespace atomic_file_detail {

Existing look(const char* path, std::string* target) {
  *target = path;
  const std::optional<std::string> name = finalName(path);
  if (!name) return Existing::Other;
  *target = *name;
  struct stat status;
  errno = 0;
  if (stat(name->c_str(), &status) == 0) {
    return S_ISREG(status.st_mode) ? Existing::RegularFile : Existing::Other;
  }
  return errno == ENOENT ? Existing::Nothing : Existing::Other;
}

bool folderRefusesNewFiles(int error) {
  return error == EACCES || error == EPERM || error == ENAMETOOLONG;
}

bool openNew(const std::string& target, AtomicFile::Handles* file) {
  return openTemporary(target, nullptr, file);
}

// `target` is a regular file that stands already.
bool openOverExisting(const std::string& target, AtomicFile::Handles* file) {
  struct stat existing;
  if (stat(target.c_str(), &existing) != 0) return false;
  // The right to write it, tested as the open that empties it would test it
  // (mode, ACLs, root, a read-only file system), without emptying it.
  const int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return false;
  if (mayReplace(target, existing)) {
    if (openTemporary(target, &existing, file)) {
      close(fd);
      return true;
    }
    // Only a folder we may not create in (or one nested so deep that the
    // temporary file's path passes the system's limit) leads to writing in
    // place; a full disk must not cost the file.
    if (!folderRefusesNewFiles(errno)) {
      close(fd);
      return false;
    }
  }
  return openInPlace(target, fd, file);
}

// The lock goes with the descriptor.
bool lockExclusive(int fd, uint32_t waitMilliseconds) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMilliseconds);
  for (;;) {
    if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    // A file system without locks cannot be shared safely either way; it
    // is written as before.
    if (errno != EWOULDBLOCK && errno != EINTR) return errno == ENOLCK || errno == EOPNOTSUPP;
    if (std::chrono::steady_clock::now() >= deadline || stopRequest()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Once the space is reserved, only a kill or an I/O error can leave the
// file cut: the caller holds stop requests meanwhile.
bool rewriteInPlace(std::FILE* scratch, int fd) {
  struct stat from, to;
  if (fstat(fileno(scratch), &from) != 0 || fstat(fd, &to) != 0) return false;
  if (!reserve(fd, to.st_size, from.st_size)) return false;
  char buffer[64 * 1024];
  for (off_t at = 0; at < from.st_size;) {
    const ssize_t got = pread(fileno(scratch), buffer, sizeof buffer, at);
    if (got <= 0) return false;
    for (ssize_t put = 0; put < got;) {
      const ssize_t n = pwrite(fd, buffer + put, static_cast<size_t>(got - put), at + put);
      if (n < 0) return false;
      put += n;
    }
    at += got;
  }
  return ftruncate(fd, from.st_size) == 0 && fsync(fd) == 0;
}

// A FIFO that no program reads fails at once (ENXIO) instead of holding the
// run forever.
std::FILE* openDirectly(const char* path) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* stream = fdopen(fd, "wb");
  if (stream == nullptr) {
    const int error = errno;
    close(fd);
    errno = error;
  }
  return stream;
}

bool closeDescriptor(int fd) { return close(fd) == 0; }

bool flushToDisk(std::FILE* stream) { return fsync(fileno(stream)) == 0; }

bool replace(const std::string& temp, const std::string& path) {
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace atomic_file_detail

void AtomicFile::writeBehind() {
#ifdef SYNC_FILE_RANGE_WRITE
  if (handles_.tempPath.empty() || std::fflush(handles_.stream) != 0) return;
  // Only a start: a failure here shows again in the closing fsync.
  sync_file_range(fileno(handles_.stream), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
}

}  // namespace platform
