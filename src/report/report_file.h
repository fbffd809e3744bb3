// The report's sink: text gathered in a buffer of our own and handed in large
// pieces to the report file, or kept in that buffer, grown as needed, for a
// piece of a report prepared in memory; with our own line-end translation,
// so the bytes on disk are the same on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/atomic_file.h"

// Owned by one writer on one thread. Every byte appended reaches the sink in
// the order appended, each line feed of appended text as CR LF. A report
// file stands at its path only when close() found it whole; a ReportFile
// that goes without that (an exception, an early return) leaves the earlier
// report as it was.
class ReportFile {
 public:
  static constexpr size_t kBufferBytes = 64 * 1024;

  struct InMemory {};
  // Gathers into memory, for text(): a piece of a report prepared apart.
  // Its buffer grows to hold everything appended (std::bad_alloc when it
  // can't), so that the piece is written to the file from where it was
  // formatted, without a copy.
  explicit ReportFile(InMemory);
  // Starts the report at `path`. When it can't be opened, isOpen() is false
  // and error() the errno value of the reason (ENXIO: a FIFO that no program
  // reads, which is never waited for).
  explicit ReportFile(const char* path);
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  // A file: whether it is open. Memory is always open.
  bool isOpen() const { return inMemory_ || file_.isOpen(); }

  // Appends `text` with every line feed stored as CR LF; nothing else
  // changes. The one translation of the report's line feeds: a writer that
  // puts text in reserved room commits it only when it holds none, and
  // otherwise appends it here. Its common case (the text fits and holds no
  // line feed) is a copy inline at the caller.
  void append(std::string_view text) {
    // An empty text may have no data at all, which memchr must not be given.
    if (text.empty()) return;
    if (text.size() <= capacity_ - used_ &&
        std::memchr(text.data(), '\n', text.size()) == nullptr) {
      std::memcpy(buffer_.get() + used_, text.data(), text.size());
      used_ += text.size();
      return;
    }
    appendTranslated(text);
  }

  // Appends `bytes` as they are to stand in the file, without a copy into
  // the buffer.
  void appendVerbatim(std::string_view bytes);

  // Ends the current line (CR LF).
  void endLine() {
    char* const at = reserve(2);
    at[0] = '\r';
    at[1] = '\n';
    commit(2);
  }

  // For a writer that puts bytes in place itself: room for `bytes` at the
  // end of what is gathered, handing what is pending to the sink when
  // needed; null when the buffer can never hold that many (more than
  // kBufferBytes). Nothing is appended until commit.
  char* reserve(size_t bytes) {
    if (bytes <= capacity_ - used_) return buffer_.get() + used_;
    return reserveAfterFlush(bytes);
  }
  // Appends the first `bytes` (at most those reserved) of the room just
  // reserved, as they are to stand in the file: no translation.
  void commit(size_t bytes) { used_ += bytes; }

  // Memory only: everything appended so far; the view lasts until the next
  // append or clear.
  std::string_view text() const { return std::string_view(buffer_.get(), used_); }
  // Memory only: forgets everything appended, keeping the memory for reuse.
  void clear();

  // A file only: writes what is pending, closes the file and puts it in place. A
  // file rewritten in place waits at most `lockWaitMilliseconds` for another
  // writer's lock on it. False, with the reason in error() where the system
  // gave one, when any write, the close or the move failed: the report is
  // then not in place, and an older one stays as it was (a device or pipe
  // keeps what it took). Nothing may be appended after it.
  bool close(uint32_t lockWaitMilliseconds = 0);

  // The errno value of the first failure to open, write or close, 0 when
  // the system gave none.
  int error() const { return error_; }
  // Whether close failed because another writer held the file locked.
  bool lockedByOther() const { return file_.lockedByOther(); }
  // Whether close failed because a stop had been requested before the file
  // was put in place (platform::AtomicFile::stopped).
  bool stopped() const { return file_.stopped(); }

 private:
  void appendTranslated(std::string_view text);
  char* reserveAfterFlush(size_t bytes);
  // Room for `bytes` more in the buffer: a file hands what is gathered to
  // the disk, memory grows. False for more than kBufferBytes.
  bool makeRoom(size_t bytes);
  // A file only: hands what is gathered to the disk.
  void flush();
  // A file only: writes `bytes`, as they stand in the file.
  void passToSink(std::string_view bytes);

  const bool inMemory_;
  std::unique_ptr<char[]> buffer_;
  size_t capacity_ = kBufferBytes;  // of buffer_
  size_t used_ = 0;                 // a file: bytes of buffer_ not yet written
  platform::AtomicFile file_;       // the sink on disk
  size_t unflushed_ = 0;            // bytes handed to the file since the last write-behind
  bool failed_ = false;             // a write failed: the file is not whole
  int error_ = 0;
};
