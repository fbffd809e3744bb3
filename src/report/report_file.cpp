#include "report/report_file.h"

#include <cerrno>

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
  if (inMemory_) {
    text_.append(bytes);
    return;
  }
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
  passToSink(std::string_view(buffer_.get(), used_));
  used_ = 0;
}

void ReportFile::appendVerbatim(std::string_view bytes) {
  flush();
  passToSink(bytes);
}

// The one place where a line feed of the report's text becomes CR LF. The
// pair never straddles a flush.
void ReportFile::appendTranslated(std::string_view text) {
  char* const buffer = buffer_.get();
  for (char c : text) {
    if (kBufferBytes - used_ < 2) flush();
    if (c == '\n') buffer[used_++] = '\r';
    buffer[used_++] = c;
  }
}

char* ReportFile::reserveAfterFlush(size_t bytes) {
  flush();
  return bytes <= kBufferBytes ? buffer_.get() : nullptr;
}

std::string_view ReportFile::text() {
  flush();
  return text_;
}

void ReportFile::clear() {
  used_ = 0;
  text_.clear();
}

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
