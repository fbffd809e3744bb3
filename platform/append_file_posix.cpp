// Append files on POSIX: O_APPEND, so that each write(2) lands whole at the
// end of the file; O_NONBLOCK only for the open, so that a FIFO without a
// reader is refused rather than waited for.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

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

namespace {

// Takes back the `written` bytes that this descriptor's writes just put at
// the end of the file, so that no cut text stays in it. With O_APPEND the
// offset is where our bytes end. Only when the file still ends there: a
// text another process appended after ours is never cut. Between that look
// and the cut another process could still append (a few microseconds);
// leaving our part instead would glue every later line to a cut one.
void takeBack(int fd, size_t written) {
  const off_t ourEnd = lseek(fd, 0, SEEK_CUR);
  struct stat file;
  if (ourEnd < 0 || static_cast<uint64_t>(ourEnd) < written || fstat(fd, &file) != 0 ||
      file.st_size != ourEnd) {
    return;
  }
  while (ftruncate(fd, ourEnd - static_cast<off_t>(written)) != 0 && errno == EINTR) {
  }
}

}  // namespace

// One write(2) takes the whole text unless the file can take no more; the
// rest is tried once more so that the failure has its reason (EFBIG,
// ENOSPC), and the text is whole if the room came back meanwhile.
bool appendWhole(AppendFileHandle file, std::string_view text, int* error) {
  const int fd = static_cast<int>(file);
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t written = write(fd, text.data() + done, text.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      *error = written < 0 ? errno : ENOSPC;
      if (done > 0) takeBack(fd, done);
      return false;
    }
    done += static_cast<size_t>(written);
  }
  return true;
}

void closeAppendFile(AppendFileHandle file) {
  if (file != kNoAppendFile) close(static_cast<int>(file));
}

}  // namespace platform
