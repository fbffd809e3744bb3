// Whole-or-nothing files on Windows: a temporary file beside the target, then
// MoveFileExA with MOVEFILE_REPLACE_EXISTING, which replaces the target in
// one step; or, where the target may be written but not replaced, a scratch
// file copied into it once its length is granted.
#include <windows.h>
//
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "platform/atomic_file.h"
#include "platform/atomic_file_internal.h"
#include "platform/errno_win32.h"
#include "platform/stop_request.h"

namespace platform {

using namespace atomic_file_detail;

namespace {

// The folder part of `path`, with its last separator ("" for a bare name).
std::string folderPrefix(const std::string& path) {
  const size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

// Creates the temporary file for `target`, beside it under a short name of
// its own (ZUQTradeReport-PID-N.tmp), which fits in the folder whatever the
// length of the report's name; the folder's inherited permissions apply, as
// they would to `target` created directly.
bool openTemporary(const std::string& target, AtomicFile::Handles* file) {
  const std::string stem =
      folderPrefix(target) + "ZUQTradeReport-" + std::to_string(GetCurrentProcessId()) + "-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = stem + std::to_string(attempt) + ".tmp";
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
    removeOnImmediateStop(temp);
    return true;
  }
  return false;
}

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Whether a new file may take the place of `target`: not while another
// program holds it open without letting it be deleted, nor when its rights
// refuse deleting it.
bool mayReplace(const std::string& target) {
  const HANDLE handle =
      CreateFileA(target.c_str(), DELETE, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  CloseHandle(handle);
  return true;
}

// A file for the whole report before it goes into place, in the system's
// temporary folder; Windows deletes it when it is closed, however the
// process ends.
std::FILE* openScratch() {
  char folder[MAX_PATH + 1];
  char name[MAX_PATH + 1];
  const DWORD length = GetTempPathA(sizeof folder, folder);
  if (length == 0 || length > sizeof folder || GetTempFileNameA(folder, "zuq", 0, name) == 0) {
    return nullptr;
  }
  const HANDLE handle =
      CreateFileA(name, GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr, CREATE_ALWAYS,
                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    DeleteFileA(name);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* stream = _fdopen(fd, "w+b");
  if (stream == nullptr) _close(fd);
  return stream;
}

bool setLength(HANDLE handle, LARGE_INTEGER length) {
  return SetFilePointerEx(handle, length, nullptr, FILE_BEGIN) && SetEndOfFile(handle);
}

}  // namespace

namespace atomic_file_detail {

// A device such as NUL or CON, a pipe or a folder is no regular file.
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
  Existing kind = GetFileType(handle) == FILE_TYPE_DISK ? Existing::RegularFile : Existing::Other;
  if (kind == Existing::RegularFile && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
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

bool folderRefusesNewFiles(int error) { return error == EACCES; }

bool openNew(const std::string& target, AtomicFile::Handles* file) {
  return openTemporary(target, file);
}

bool openOverExisting(const std::string& target, AtomicFile::Handles* file) {
  // The right to write it, tested as the open that empties it would test it,
  // without emptying it: a read-only file, one whose rights refuse writing,
  // one another program holds without letting others write. (Wine, run as
  // root, lets a read-only file be opened for writing; Windows does not.)
  const DWORD attributes = GetFileAttributesA(target.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    errno = attributes == INVALID_FILE_ATTRIBUTES ? errnoOf(GetLastError()) : EACCES;
    return false;
  }
  const HANDLE handle = CreateFileA(target.c_str(), GENERIC_WRITE | FILE_READ_ATTRIBUTES, kShareAll,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = errnoOf(GetLastError());
    return false;
  }
  if (mayReplace(target)) {
    if (openTemporary(target, file)) {
      CloseHandle(handle);
      return true;
    }
    // Only a folder we may not create in leads to writing in place; a full
    // disk must not cost the file.
    if (!folderRefusesNewFiles(errno)) {
      CloseHandle(handle);
      return false;
    }
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return false;
  }
  file->stream = openScratch();
  if (file->stream == nullptr) {
    _close(fd);
    return false;
  }
  file->path = target;
  file->inPlace = fd;
  return true;
}

std::FILE* openDirectly(const char* path) { return std::fopen(path, "wb"); }

// The lock, on the whole file, goes with the handle.
bool lockExclusive(int fd, uint32_t waitMilliseconds) {
  const HANDLE target = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  const ULONGLONG deadline = GetTickCount64() + waitMilliseconds;
  for (;;) {
    OVERLAPPED whole{};
    if (LockFileEx(target, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD,
                   MAXDWORD, &whole)) {
      return true;
    }
    // A file system without locks cannot be shared safely either way; it
    // is written as before.
    if (GetLastError() != ERROR_LOCK_VIOLATION) return true;
    if (GetTickCount64() >= deadline || stopRequest()) return false;
    Sleep(10);
  }
}

// The file is first made as long as the new one, which takes its space on
// the disk; when that is refused, its old length is set again and its bytes
// are untouched. The caller holds stop requests meanwhile.
bool rewriteInPlace(std::FILE* scratch, int fd) {
  const HANDLE target = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
  const HANDLE from = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(scratch)));
  LARGE_INTEGER size, length, start{};
  if (!GetFileSizeEx(from, &size) || !GetFileSizeEx(target, &length)) return false;
  if (size.QuadPart > length.QuadPart && !setLength(target, size)) {
    setLength(target, length);
    return false;
  }
  if (!SetFilePointerEx(from, start, nullptr, FILE_BEGIN) ||
      !SetFilePointerEx(target, start, nullptr, FILE_BEGIN)) {
    return false;
  }
  char buffer[64 * 1024];
  for (LONGLONG left = size.QuadPart; left > 0;) {
    DWORD got = 0;
    DWORD put = 0;
    const DWORD want = left < LONGLONG{sizeof buffer} ? static_cast<DWORD>(left) : sizeof buffer;
    if (!ReadFile(from, buffer, want, &got, nullptr) || got == 0 ||
        !WriteFile(target, buffer, got, &put, nullptr) || put != got) {
      return false;
    }
    left -= got;
  }
  return setLength(target, size) && FlushFileBuffers(target);
}

bool closeDescriptor(int fd) { return _close(fd) == 0; }

bool flushToDisk(std::FILE* stream) { return _commit(_fileno(stream)) == 0; }

bool replace(const std::string& temp, const std::string& path) {
  return MoveFileExA(temp.c_str(), path.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace atomic_file_detail

// Windows can only flush a file whole and waits for it.
void AtomicFile::writeBehind() {}

}  // namespace platform
