// A file that appears at its path only once it is whole: it is written under
// a temporary name in the same folder and moved over the path when complete
// and flushed, so a run that fails or is killed while writing leaves the file
// that stood there before as it was, and two writers of one path each leave a
// whole file (the last to finish wins). A file that may be written but not
// replaced (its folder is closed to us) is written whole into a scratch file
// first and copied in only once the disk has granted its length, so that
// only a kill during that copy can leave it cut.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace platform {

// Owned by one writer on one thread from openAtomicFile to closeAtomicFile.
struct AtomicFile {
  std::FILE* stream = nullptr;  // binary, for writing; null when not open
  std::string path;             // where the file appears: a symbolic link's target
  std::string tempPath;         // the new file beside `path` meanwhile; empty when there is none
  // When the file at `path` is rewritten in place: a descriptor of it, open
  // for writing and not emptied, and `stream` is then a scratch file in the
  // system's temporary folder. -1 otherwise.
  int inPlace = -1;
  // How long closeAtomicFile waits for another writer's lock on a file
  // rewritten in place; set by the writer after openAtomicFile.
  uint32_t lockWaitMilliseconds = 0;
  // Set by closeAtomicFile when another writer held such a file locked for
  // all of that wait: the file was left as it was.
  bool lockedByOther = false;
};

// Opens `path` for writing. When it names a regular file, or nothing yet, the
// stream writes a new temporary file beside it (beside a symbolic link's
// final target), created with the permissions that creating `path` would
// give, or with the mode (and, where the process may set them, the owner and
// group) of the file it is to replace. An existing file must first pass the
// test of an open for writing, without being emptied: one we may not write
// (read-only, another user's, held by another program) is refused and left
// as it is. One we may write but not replace (a folder where we have no
// right to create a file, another user's file in a folder with the sticky
// bit, on Windows a file another program holds open) is rewritten in place
// at the close. Anything else (a device, a pipe) is opened directly and
// emptied, as a plain open for writing would. False when nothing could be
// opened (an empty path, a missing folder, no right to write, a full disk).
bool openAtomicFile(const char* path, AtomicFile* file);

// Asks the system to start writing what the stream has taken so far to the
// disk, without waiting for it, so that closeAtomicFile has less left to
// wait for. Costs a flush of the stream; does nothing where the system has
// no such request, or for a file written directly.
void writeBehind(AtomicFile* file);

// Ends the writing and closes the stream. With `complete` (every write
// succeeded) the temporary file is flushed to the disk and moved over the
// path. Returns true only when the whole file now stands at its path; in
// every other case the temporary file is removed and what stood at the path
// is left untouched. A file rewritten in place is locked against every other
// writer that locks it (flock, LockFileEx) from before its new length is
// asked for until it is closed, so that two runs never mix their lines in
// it; a lock held elsewhere for longer than `lockWaitMilliseconds` fails the
// close. It then gets the disk space for its new length; when the disk or a file-size limit refuses
// it, the file is left as it was; after that only a failing disk (or a kill) can leave it cut. A
// file written directly can only be closed: false when `complete` is false or the flush or close
// fails.
bool closeAtomicFile(AtomicFile* file, bool complete);

}  // namespace platform
