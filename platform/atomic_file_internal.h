// Between the whole-or-nothing file's common part (atomic_file.cpp: the
// order of the steps in opening and in committing) and its platform's part
// (atomic_file_posix.cpp, atomic_file_win32.cpp: each step).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/atomic_file.h"

namespace platform::atomic_file_detail {

// What stands at a path about to be written.
enum class Existing {
  Nothing,      // nothing yet: a new file is made beside it
  RegularFile,  // a file on a disk: replaced, or rewritten in place
  Other,        // a device, a pipe, a folder, a path that cannot be looked at
};

// Looks at `path` without opening it for reading or writing; `target`
// becomes the name the file has at the end of its symbolic links.
Existing look(const char* path, std::string* target);

// Whether `error`, from making a new file in a folder, says the folder is
// closed to new files (or its path too long for one): the file is then
// opened directly, or rewritten in place, rather than given up.
bool folderRefusesNewFiles(int error);

// Opens the temporary file for `target`, where nothing stands yet.
bool openNew(const std::string& target, AtomicFile::Handles* file);
// Opens for `target`, a regular file that stands already: a temporary file
// beside it, or a scratch file to copy into it in place.
bool openOverExisting(const std::string& target, AtomicFile::Handles* file);
// Opens what is not a regular file as a plain open for writing would,
// without waiting for a reader. Null, with errno set, on failure.
std::FILE* openDirectly(const char* path);

// Takes the exclusive lock on the file of descriptor `fd`, waiting at most
// `waitMilliseconds` for another holder, and no longer once a stop is
// requested.
bool lockExclusive(int fd, uint32_t waitMilliseconds);
// Copies the scratch file over the start of the file of descriptor `fd`,
// once its new length is granted, and cuts it to that length.
bool rewriteInPlace(std::FILE* scratch, int fd);
bool closeDescriptor(int fd);

// Asks the system to write what the stream's file holds to the disk, and
// waits for it.
bool flushToDisk(std::FILE* stream);
// Moves `temp` over `path` in one step.
bool replace(const std::string& temp, const std::string& path);

}  // namespace platform::atomic_file_detail
