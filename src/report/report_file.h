// The open report file: a binary stream with our own line-end translation, so
// the bytes on disk are the same on every platform.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "platform/atomic_file.h"

// Owned by writeTradeReport for the length of one report; single-threaded.
// Text is gathered in `buffer` and handed to the stream in large pieces; every
// field of every trade passes through writeText, so its common case (the text
// fits and holds no line feed) is a copy inline at the caller.
struct ReportFile {
  static constexpr size_t kBufferBytes = 64 * 1024;

  platform::AtomicFile output;
  // When set, what is gathered goes here instead of to the stream: a piece of
  // a report prepared on another thread.
  std::string* memory = nullptr;
  std::unique_ptr<char[]> buffer{new char[kBufferBytes]};
  size_t used = 0;       // bytes of `buffer` not yet handed to the stream
  size_t unflushed = 0;  // bytes handed to the stream since the last write-behind
  bool failed = false;   // a write failed: the file is not whole
  int error = 0;         // the errno value of the first failure, when known

  // The text gathered and not yet written.
  std::string_view pending() const { return std::string_view(buffer.get(), used); }
};

// Starts the report at `path`. It appears there only when closeReportFile
// finds it whole; until then an older report stays as it is. False, with
// the errno value of the reason in file.error, when it can't be opened
// (ENXIO: a FIFO that no program reads, which is never waited for).
bool openReportFile(ReportFile& file, const char* path);

// Writes `text` byte by byte, storing each line feed as CR LF and handing
// full buffers to the stream.
void writeTextTranslated(ReportFile& file, std::string_view text);

// Writes `text` with every line feed stored as CR LF; nothing else changes.
inline void writeText(ReportFile& file, std::string_view text) {
  if (text.size() <= ReportFile::kBufferBytes - file.used) {
    char* out = file.buffer.get() + file.used;
    for (char c : text) {
      if (c == '\n') return writeTextTranslated(file, text);
      *out++ = c;
    }
    file.used += text.size();
    return;
  }
  writeTextTranslated(file, text);
}

// Makes room for `bytes` at the end of the buffer, handing what is pending to
// the stream when needed; false when the buffer can never hold that many.
bool makeRoom(ReportFile& file, size_t bytes);

// Hands what is gathered to the stream (or the memory).
void writePending(ReportFile& file);

// Writes `bytes`, already as they are to stand in the file, after what is
// gathered.
void writeBytes(ReportFile& file, std::string_view bytes);

// Ends the current line (CR LF).
void writeLineEnd(ReportFile& file);

// Writes what is pending, closes the file and puts it in place. False, with
// the reason in file.error where the system gave one, when any write, the
// close or the move failed: the report is then not in place,
// and an older one stays as it was (a device or pipe keeps what it took).
bool closeReportFile(ReportFile& file);
