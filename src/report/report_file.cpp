#include "report/report_file.h"

#include <cerrno>
#include <cstdio>

namespace {

// The disk starts on a large report while the rest is still being written,
// so that the closing flush waits only for the last stretch.
constexpr size_t kWriteBehindBytes = 8u << 20;

void hand(ReportFile& file, std::string_view bytes) {
  if (file.memory != nullptr) {
    file.memory->append(bytes);
    return;
  }
  if (!bytes.empty() &&
      std::fwrite(bytes.data(), 1, bytes.size(), file.output.stream) != bytes.size()) {
    if (!file.failed) file.error = errno;
    file.failed = true;
  }
  file.unflushed += bytes.size();
  if (file.unflushed >= kWriteBehindBytes) {
    platform::writeBehind(&file.output);
    file.unflushed = 0;
  }
}

}  // namespace

void writePending(ReportFile& file) {
  hand(file, file.pending());
  file.used = 0;
}

void writeBytes(ReportFile& file, std::string_view bytes) {
  writePending(file);
  hand(file, bytes);
}

bool openReportFile(ReportFile& file, const char* path) {
  file.used = 0;
  file.unflushed = 0;
  file.failed = false;
  file.error = 0;
  errno = 0;
  if (platform::openAtomicFile(path, &file.output)) return true;
  file.error = errno;
  return false;
}

void writeTextTranslated(ReportFile& file, std::string_view text) {
  char* const buffer = file.buffer.get();
  for (char c : text) {
    if (ReportFile::kBufferBytes - file.used < 2) writePending(file);
    if (c == '\n') buffer[file.used++] = '\r';
    buffer[file.used++] = c;
  }
}

bool makeRoom(ReportFile& file, size_t bytes) {
  if (bytes <= ReportFile::kBufferBytes - file.used) return true;
  writePending(file);
  return bytes <= ReportFile::kBufferBytes;
}

void writeLineEnd(ReportFile& file) {
  if (ReportFile::kBufferBytes - file.used < 2) writePending(file);
  file.buffer[file.used++] = '\r';
  file.buffer[file.used++] = '\n';
}

bool closeReportFile(ReportFile& file) {
  writePending(file);
  const bool wasWhole = !file.failed;
  errno = 0;
  if (!platform::closeAtomicFile(&file.output, wasWhole)) {
    if (wasWhole) file.error = errno;
    file.failed = true;
  }
  return !file.failed;
}
