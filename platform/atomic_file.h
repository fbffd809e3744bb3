// A file that appears at its path only once it is whole: it is written under
// a temporary name in the same folder and moved over the path when complete
// and flushed, so a run that fails or is killed while writing leaves the file
// that stood there before as it was, and two writers of one path each leave a
// whole file (the last to finish wins). A file that may be written but not
// replaced (its folder is closed to us) is written whole into a scratch file
// first and copied in only once the disk has granted its length; stop
// requests (platform/stop_request.h) are held during that copy, so that only
// a kill can leave it cut. A stop requested before the file is put in place
// leaves what stood there as it was.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

// Owned by one writer on one thread. Whatever way the owner leaves (a
// return, an exception), an AtomicFile that was not committed is discarded
// when it goes: its stream is closed, its temporary file removed, and what
// stood at the path stays as it was.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile() { discard(); }
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Opens `path` for writing, discarding first what this object had open.
  // When it names a regular file, or nothing yet, the stream writes a new
  // temporary file beside it (beside a symbolic link's final target),
  // created with the permissions that creating `path` would give, or with
  // the mode (and, where the process may set them, the owner and group) of
  // the file it is to replace. An existing file must first pass the test of
  // an open for writing, without being emptied: one we may not write
  // (read-only, another user's, held by another program) is refused and left
  // as it is. One we may write but not replace (a folder where we have no
  // right to create a file, another user's file in a folder with the sticky
  // bit, on Windows a file another program holds open) is rewritten in place
  // at the commit. Anything else (a device, a pipe) is opened directly and
  // emptied, as a plain open for writing would. False, with errno set, when
  // nothing could be opened (an empty path, a missing folder, no right to
  // write, a full disk, ENXIO for a FIFO that no program reads, which is
  // never waited for).
  bool open(const char* path);

  bool isOpen() const { return handles_.stream != nullptr; }

  // Writes `bytes` after what was written. False, with errno set where the
  // system gives it, when the stream did not take them all or nothing is
  // open.
  bool write(std::string_view bytes) {
    if (!isOpen()) {
      errno = EBADF;
      return false;
    }
    return bytes.empty() ||
           std::fwrite(bytes.data(), 1, bytes.size(), handles_.stream) == bytes.size();
  }

  // Asks the system to start writing what the stream has taken so far to the
  // disk, without waiting for it, so that commit has less left to wait for.
  // Costs a flush of the stream; does nothing where the system has no such
  // request, or for a file written directly.
  void writeBehind();

  // Ends the writing of a complete file (every write succeeded): the
  // temporary file is flushed to the disk and moved over the path. True only
  // when the whole file now stands at its path; in every other case the
  // temporary file is removed and what stood at the path is left untouched.
  // A file rewritten in place is locked against every other writer that
  // locks it (flock, LockFileEx) from before its new length is asked for
  // until it is closed, so that two runs never mix their lines in it; a lock
  // held elsewhere for longer than `lockWaitMilliseconds` fails the commit
  // (lockedByOther()). It then gets the disk space for its new length; when
  // the disk or a file-size limit refuses it, the file is left as it was;
  // after that only a failing disk (or a kill) can leave it cut. A file
  // written directly can only be closed: false when the flush or close
  // fails. The file is closed afterwards in every case.
  bool commit(uint32_t lockWaitMilliseconds = 0) {
    lockedByOther_ = false;
    stopped_ = false;
    return isOpen() && close(true, lockWaitMilliseconds);
  }

  // Ends the writing of an incomplete file: closes the stream and removes
  // the temporary file, leaving what stood at the path as it was (a device
  // or pipe keeps what it took). Does nothing when nothing is open.
  void discard() {
    if (isOpen()) close(false, 0);
  }

  // Whether the last commit failed because another writer held a file
  // rewritten in place locked for all of the wait.
  bool lockedByOther() const { return lockedByOther_; }
  // Whether the last commit failed because a stop had been requested before
  // the file was put in place (platform::stopRequest): what stood at the
  // path is as it was. A request that comes once a file rewritten in place
  // has its new length waits for its end instead.
  bool stopped() const { return stopped_; }

  // What an open file holds. Filled by the platform's open and looked at by
  // its commit only; public only so that the platform's helpers can fill it.
  struct Handles {
    std::FILE* stream = nullptr;  // binary, for writing; null when not open
    std::string path;             // where the file appears: a symbolic link's target
    std::string tempPath;         // the new file beside `path` meanwhile; empty when there is none
    // When the file at `path` is rewritten in place: a descriptor of it, open
    // for writing and not emptied, and `stream` is then a scratch file in the
    // system's temporary folder. -1 otherwise.
    int inPlace = -1;
  };

 private:
  // Closes the file and resets the handles: commits it when `complete`,
  // else discards it. True only when a complete file now stands at its path.
  bool close(bool complete, uint32_t lockWaitMilliseconds);

  Handles handles_;
  bool lockedByOther_ = false;
  bool stopped_ = false;
};

}  // namespace platform
