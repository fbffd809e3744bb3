#include "report/report_file.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace {

// The disk starts on a large report while the rest is still being written,
// so that the closing flush waits only for the last stretch.
constexpr size_t kWriteBehindBytes = 8u << 20;

}  // namespace

ReportFile::ReportFile(InMemory) : inMemory_(true), buffer_(new char[kBufferBytes]) {}

ReportFile::ReportFile(const char* path) : inMemory_(false), buffer_(new char[kBufferBytes]) {
  errno = 0;
  if (!file_.open(path)) error_ = errno;
}

void ReportFile::passToSink(std::string_view bytes) {
  if (!file_.write(bytes)) {
    if (!failed_) error_ = errno;
    failed_ = true;
  }
  unflushed_ += bytes.size();
  if (unflushed_ >= kWriteBehindBytes) {
    file_.writeBehind();
    unflushed_ = 0;
  }
}

void ReportFile::flush() {
  if (inMemory_) return;  // the buffer is the memory
  passToSink(std::string_view(buffer_.get(), used_));
  used_ = 0;
}

bool ReportFile::makeRoom(size_t bytes) {
  if (bytes > kBufferBytes) return false;
  if (!inMemory_) {
    flush();
    return true;
  }
  if (bytes <= capacity_ - used_) return true;
  const size_t capacity = std::max(2 * capacity_, used_ + bytes);
  std::unique_ptr<char[]> grown(new char[capacity]);
  if (used_ != 0) std::memcpy(grown.get(), buffer_.get(), used_);
  buffer_ = std::move(grown);
  capacity_ = capacity;
  return true;
}

void ReportFile::appendVerbatim(std::string_view bytes) {
  if (inMemory_) {
    for (size_t at = 0; at < bytes.size(); at += kBufferBytes) {
      const size_t part = std::min(kBufferBytes, bytes.size() - at);
      makeRoom(part);
      std::memcpy(buffer_.get() + used_, bytes.data() + at, part);
      used_ += part;
    }
    return;
  }
  flush();
  passToSink(bytes);
}

// The one place where a line feed of the report's text becomes CR LF. The
// pair never straddles a flush.
void ReportFile::appendTranslated(std::string_view text) {
  for (char c : text) {
    if (capacity_ - used_ < 2) makeRoom(2);  // memory may move as it grows
    char* const buffer = buffer_.get();
    if (c == '\n') buffer[used_++] = '\r';
    buffer[used_++] = c;
  }
}

char* ReportFile::reserveAfterFlush(size_t bytes) {
  return makeRoom(bytes) ? buffer_.get() + used_ : nullptr;
}

void ReportFile::clear() { used_ = 0; }

bool ReportFile::close(uint32_t lockWaitMilliseconds) {
  flush();
  if (failed_) {
    file_.discard();
    return false;
  }
  errno = 0;
  if (!file_.commit(lockWaitMilliseconds)) {
    error_ = errno;
    failed_ = true;
  }
  return !failed_;
}
