// Append files on Windows: a handle with FILE_APPEND_DATA alone, so that each
// WriteFile lands whole at the end of the file, and line feeds turned into
// CR LF before that one write. Opening a file never blocks here.
#include <windows.h>

#include <string>

#include "platform/append_file.h"
#include "platform/errno_win32.h"

namespace platform {

AppendFileHandle openAppendFile(const char* path, int* error) {
  // Shared for reading and writing, as the C library opens files: other runs
  // append to the same log, and it can't be deleted while it is open.
  const HANDLE handle =
      CreateFileA(path, FILE_APPEND_DATA | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = errnoOf(GetLastError());
    return kNoAppendFile;
  }
  return reinterpret_cast<AppendFileHandle>(handle);
}

bool appendWhole(AppendFileHandle file, std::string_view text) {
  std::string lines;
  lines.reserve(text.size() + text.size() / 32);
  for (char c : text) {
    if (c == '\n') lines += '\r';
    lines += c;
  }
  const HANDLE handle = reinterpret_cast<HANDLE>(file);
  std::string_view rest = lines;
  while (!rest.empty()) {
    const DWORD chunk = rest.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest.size());
    DWORD written = 0;
    if (!WriteFile(handle, rest.data(), chunk, &written, nullptr) || written == 0) return false;
    rest.remove_prefix(written);
  }
  return true;
}

void closeAppendFile(AppendFileHandle file) {
  if (file != kNoAppendFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

}  // namespace platform
