// Opening a file for reading that is sure to be a regular file: a FIFO, a
// device or a folder named where a file is expected must neither block the
// open nor feed a reader without end.
#pragma once

#include <cstdint>
#include <cstdio>

namespace platform {

// The error of openRegularFile for something that is not a regular file
// (a FIFO, a device); never an errno value.
inline constexpr int kNotRegularFile = -1;

// Opens the regular file at `path` for reading in binary mode without ever
// blocking. Null with *error set when it is not opened: kNotRegularFile, or
// an errno value (ENOENT when nothing is there, EISDIR for a folder, EACCES,
// ...). The caller closes the file with fclose. Any thread.
std::FILE* openRegularFile(const char* path, int* error);

// The size in bytes of the file open as `file`, in *size. False when the
// system can't tell. Any thread.
bool regularFileSize(std::FILE* file, uint64_t* size);

// Moves the read position of `file` to byte `offset` from its start, beyond
// the 2 GiB that std::fseek reaches where a long has 32 bits (Windows), and
// clears its end-of-file and error marks. False when the system refuses. Any
// thread.
bool seekRegularFile(std::FILE* file, uint64_t offset);

}  // namespace platform
