// Whole-or-nothing files on Windows: a temporary file beside the target, then
// MoveFileExA with MOVEFILE_REPLACE_EXISTING, which replaces the target in
// one step.
#include <windows.h>
//
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/atomic_file.h"

namespace platform {

namespace {

// What stands at `path`: nothing yet, a file on a disk, or something else
// (a device such as NUL or CON, a pipe, a folder, an unreachable path).
enum class Existing { Nothing, DiskFile, Other };

// Looks at `path` without opening it for reading or writing; for a disk file
// reached through a symbolic link, *target becomes the link's final target.
Existing look(const char* path, std::string* target) {
  *target = path;
  // Names in the device namespace (\\.\pipe\..., \\.\COM1) are never files.
  if (std::string(path).rfind("\\\\.\\", 0) == 0) return Existing::Other;
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return GetLastError() == ERROR_FILE_NOT_FOUND ? Existing::Nothing : Existing::Other;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Existing::Other;
  const HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return Existing::Other;
  Existing kind = GetFileType(handle) == FILE_TYPE_DISK ? Existing::DiskFile : Existing::Other;
  if (kind == Existing::DiskFile && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    char finalPath[MAX_PATH * 4];
    const DWORD length = GetFinalPathNameByHandleA(handle, finalPath, sizeof finalPath,
                                                   FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= sizeof finalPath) {
      kind = Existing::Other;
    } else {
      target->assign(finalPath, length);
    }
  }
  CloseHandle(handle);
  return kind;
}

// Creates the temporary file for `target`; the folder's inherited
// permissions apply, as they would to `target` created directly.
bool openTemporary(const std::string& target, AtomicFile* file) {
  const std::string stem = target + ".tmp-" + std::to_string(GetCurrentProcessId()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = stem + std::to_string(attempt);
    const int fd = _open(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                         _S_IREAD | _S_IWRITE);
    if (fd < 0 && errno == EEXIST) continue;  // left by a killed run of the same id
    if (fd < 0) return false;
    file->stream = _fdopen(fd, "wb");
    if (file->stream == nullptr) {
      _close(fd);
      DeleteFileA(temp.c_str());
      return false;
    }
    file->path = target;
    file->tempPath = temp;
    return true;
  }
  return false;
}

}  // namespace

bool openAtomicFile(const char* path, AtomicFile* file) {
  *file = AtomicFile{};
  if (path == nullptr || *path == '\0') return false;
  std::string target;
  if (look(path, &target) != Existing::Other) {
    if (openTemporary(target, file)) return true;
    // Only a folder we may not create in is written directly; a full disk
    // must not cost the old file.
    if (errno != EACCES) return false;
  }
  file->path = path;
  file->stream = std::fopen(path, "wb");
  return file->stream != nullptr;
}

// Windows can only flush a file whole and waits for it.
void writeBehind(AtomicFile*) {}

bool closeAtomicFile(AtomicFile* file, bool complete) {
  if (file->stream == nullptr) return false;
  bool ok = complete && std::fflush(file->stream) == 0 && std::ferror(file->stream) == 0;
  if (ok && !file->tempPath.empty()) ok = _commit(_fileno(file->stream)) == 0;
  if (std::fclose(file->stream) != 0) ok = false;
  file->stream = nullptr;
  if (file->tempPath.empty()) return ok;
  if (ok) {
    ok = MoveFileExA(file->tempPath.c_str(), file->path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  if (!ok) DeleteFileA(file->tempPath.c_str());
  return ok;
}

}  // namespace platform
