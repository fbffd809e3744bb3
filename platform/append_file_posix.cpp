// Append files on POSIX: O_APPEND, so that each write(2) lands whole at the
// end of the file; O_NONBLOCK only for the open, so that a FIFO without a
// reader is refused rather than waited for.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/append_file.h"

namespace platform {

AppendFileHandle openAppendFile(const char* path, int* error) {
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = errno;
    return kNoAppendFile;
  }
  if (fd <= 2) {
    // A standard stream is closed: its output must not land in this file.
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    const int dupError = errno;
    close(fd);
    if (moved < 0) {
      *error = dupError;
      return kNoAppendFile;
    }
    fd = moved;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool appendWhole(AppendFileHandle file, std::string_view text) {
  const int fd = static_cast<int>(file);
  while (!text.empty()) {
    const ssize_t written = write(fd, text.data(), text.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    text.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

void closeAppendFile(AppendFileHandle file) {
  if (file != kNoAppendFile) close(static_cast<int>(file));
}

}  // namespace platform
