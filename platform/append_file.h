// A file that lines are appended to, each write in one piece: a log file
// that several processes may share. Opening it never blocks, so a FIFO that
// no program reads is refused rather than waited on.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// An open append file; kNoAppendFile when none is open.
using AppendFileHandle = std::intptr_t;
inline constexpr AppendFileHandle kNoAppendFile = -1;

// Opens `path` for appending, creating it when missing, without blocking:
// a FIFO that no program reads is refused (ENXIO) instead of waited for. On
// POSIX the file never takes the place of a closed standard stream (0, 1,
// 2), where output meant for that stream would reach it too. kNoAppendFile
// with *error set to an errno value when it can't be opened. Any thread.
AppendFileHandle openAppendFile(const char* path, int* error);

// Appends `text` in one write at the end of the file, whatever other
// processes append meanwhile, so that their lines and ours never cut into
// each other. Line feeds become CR LF on Windows, as a text file has them.
// The text goes to the file whole or not at all: when the file can take
// only part of it (a full disk, a file-size limit), the part is taken back,
// as long as the file still ends with it (no other process appended after
// it), and the result is false with *error set to an errno value (ENOSPC,
// EFBIG). One thread at a time per handle.
bool appendWhole(AppendFileHandle file, std::string_view text, int* error);

void closeAppendFile(AppendFileHandle file);

}  // namespace platform
