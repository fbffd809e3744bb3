// Regular files on Windows: the handle is opened with no wait (a pipe with
// no free instance fails at once) and its type looked at before anything is
// read; only a file on a disk is handed out.
#include <windows.h>
//
#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "platform/errno_win32.h"
#include "platform/regular_file.h"

namespace platform {

std::FILE* openRegularFile(const char* path, int* error) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    *error = EISDIR;
    return nullptr;
  }
  const HANDLE handle =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    *error = errnoOf(GetLastError());
    return nullptr;
  }
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    CloseHandle(handle);
    *error = kNotRegularFile;
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    *error = EIO;
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "rb");
  if (file == nullptr) {
    _close(fd);
    *error = EIO;
  }
  return file;
}

bool regularFileSize(std::FILE* file, uint64_t* size) {
  const intptr_t handle = _get_osfhandle(_fileno(file));
  LARGE_INTEGER bytes;
  if (handle == -1 || !GetFileSizeEx(reinterpret_cast<HANDLE>(handle), &bytes)) return false;
  *size = static_cast<uint64_t>(bytes.QuadPart);
  return true;
}

bool seekRegularFile(std::FILE* file, uint64_t offset) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) return false;
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

}  // namespace platform
