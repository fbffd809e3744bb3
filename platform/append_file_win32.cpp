// Append files on Windows: each append takes a lock on a byte far beyond
// any log's end, moves to the end of the file and writes there in one
// WriteFile, so that processes appending to one file never cut into each
// other's texts (an append-only handle alone is not honoured that way by
// every implementation of the system calls). Line feeds become CR LF before
// that one write. Opening a file never blocks here.
#include <windows.h>

#include <string>

#include "platform/append_file.h"
#include "platform/errno_win32.h"

namespace platform {

namespace {

// The byte that appenders lock in turn: past any file a log could grow to.
constexpr DWORD kLockOffsetHigh = 0x7FFFFFFF;

}  // namespace

AppendFileHandle openAppendFile(const char* path, int* error) {
  // Shared for reading and writing, as the C library opens files: other runs
  // append to the same log, and it can't be deleted while it is open.
  const HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = errnoOf(GetLastError());
    return kNoAppendFile;
  }
  return reinterpret_cast<AppendFileHandle>(handle);
}

// A WriteFile that the disk cannot take whole may leave part of the text:
// it is cut off again while the lock is held (so no run of ours appends
// meanwhile) and the file still ends with it.
bool appendWhole(AppendFileHandle file, std::string_view text, int* error) {
  std::string lines;
  lines.reserve(text.size() + text.size() / 32);
  for (char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  const HANDLE handle = reinterpret_cast<HANDLE>(file);
  OVERLAPPED turn{};
  turn.OffsetHigh = kLockOffsetHigh;
  // Where locks are not to be had (some network shares), the text is
  // appended all the same.
  const bool locked = LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != 0;
  LARGE_INTEGER start{};
  bool ok = SetFilePointerEx(handle, LARGE_INTEGER{}, &start, FILE_END) != 0;
  if (!ok) *error = errnoOf(GetLastError());
  std::string_view rest = lines;
  while (ok && !rest.empty()) {
    const DWORD chunk = rest.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest.size());
    DWORD written = 0;
    const bool wrote = WriteFile(handle, rest.data(), chunk, &written, nullptr) != 0;
    if (!wrote) *error = errnoOf(GetLastError());
    if (wrote && written == 0) *error = ENOSPC;
    ok = wrote && written != 0;
    rest.remove_prefix(written);
  }
  const LONGLONG done = static_cast<LONGLONG>(lines.size() - rest.size());
  LARGE_INTEGER size{};
  if (!ok && done > 0 && GetFileSizeEx(handle, &size) && size.QuadPart == start.QuadPart + done &&
      SetFilePointerEx(handle, start, nullptr, FILE_BEGIN)) {
    SetEndOfFile(handle);
  }
  if (locked) UnlockFileEx(handle, 0, 1, 0, &turn);
  return ok;
}

void closeAppendFile(AppendFileHandle file) {
  if (file != kNoAppendFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

}  // namespace platform
