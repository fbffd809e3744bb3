// The order of the steps of a whole-or-nothing file, the same on every
// platform; each step is the platform's (atomic_file_internal.h).
#include "platform/atomic_file.h"

#include <cerrno>
#include <string>
#include <utility>

#include "platform/atomic_file_internal.h"
#include "platform/stop_request.h"
#include "platform/stop_request_internal.h"

namespace platform {

using namespace atomic_file_detail;

bool AtomicFile::open(const char* path) {
  discard();
  handles_ = Handles{};
  lockedByOther_ = false;
  if (path == nullptr || *path == '\0') {
    errno = ENOENT;
    return false;
  }
  std::string target;
  switch (look(path, &target)) {
    case Existing::RegularFile:
      return openOverExisting(target, &handles_);
    case Existing::Nothing:
      if (openNew(target, &handles_)) return true;
      // A folder we may not create in refuses the plain open below as well.
      if (!folderRefusesNewFiles(errno)) return false;
      break;
    case Existing::Other:
      break;
  }
  handles_.path = path;
  handles_.stream = openDirectly(path);
  return handles_.stream != nullptr;
}

bool AtomicFile::close(bool complete, uint32_t lockWaitMilliseconds) {
  Handles file = std::move(handles_);
  handles_ = Handles{};
  bool ok = complete && std::fflush(file.stream) == 0 && std::ferror(file.stream) == 0;
  if (file.inPlace >= 0) {
    if (ok && !lockExclusive(file.inPlace, lockWaitMilliseconds)) {
      ok = false;
      stopped_ = static_cast<bool>(stopRequest());
      lockedByOther_ = !stopped_;
    }
    if (ok) {
      // From the new length to the last byte the old report is gone and the
      // new one not yet whole: a stop request waits for the end.
      const StopHold hold;
      stopped_ = hold.stopRequestedBefore();
      ok = !stopped_ && rewriteInPlace(file.stream, file.inPlace);
    }
    if (std::fclose(file.stream) != 0) ok = false;
    if (!closeDescriptor(file.inPlace)) ok = false;
    return ok;
  }
  if (ok && !file.tempPath.empty()) ok = flushToDisk(file.stream);
  if (std::fclose(file.stream) != 0) ok = false;
  if (file.tempPath.empty()) return ok;
  // A stop requested until now keeps what stands at the path.
  if (ok && stopRequest()) {
    stopped_ = true;
    ok = false;
  }
  if (ok) ok = replace(file.tempPath, file.path);
  if (!ok) stop_detail::removeFile(file.tempPath);
  removeOnImmediateStop("");
  return ok;
}

}  // namespace platform
