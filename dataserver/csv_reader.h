// A streaming reader of CSV records (comma-separated values with optional
// double quotes), the layer under TableStream. It reads its file through a
// fixed-size buffer, so a table of any length is served in bounded memory.
//
// Grammar, byte for byte:
// - Records end with LF or CR LF. A CR followed by another byte than LF is a
//   data byte; one at the end of the file leaves its record cut (below).
// - A field that begins with '"' is quoted: it runs to the next lone '"', may
//   hold commas, CR and LF, and "" stands for one '"'. After the closing quote
//   only a comma, LF, CR LF or the end of the file may follow.
// - In an unquoted field every byte but comma, CR LF and LF is data,
//   including '"'.
// - An empty line is a record with one empty field. A file that ends with a
//   record terminator has no empty record after it; a 0-byte file has none.
// - A record is whole only with its line end. Bytes after the last line end
//   (a last line without one, or a quoted field still open at the end of the
//   file) are a cut record: a file being appended to may not have its line
//   end yet. read() does not hand it out; the owner may wait for the file to
//   grow and read it again from its start (resume()), or give up on it
//   (cutFault()).
// - Nothing is trimmed or converted.
//
// Faults (the reader stays failed after one): a NUL byte, an unterminated
// quoted field, text after a closing quote, more than `maxFields` fields, a
// field above `maxFieldBytes` or a record above `maxRecordBytes` (counting
// the field bytes after quote removal), and read errors. Each fault is one
// finished message "<name>:<line>: <what>".
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dataserver {

// Every member must be set; TableStream takes them from its published limits.
struct CsvLimits {
  size_t bufferBytes;  // size of one read from the file (0 is taken as 1)
  size_t maxFieldBytes;
  size_t maxRecordBytes;
  size_t maxFields;
};

// Not thread-safe: one reader is used by one thread at a time.
class CsvReader {
 public:
  // Reads from `file`, which the caller owns and must keep open while this
  // reader is in use; reading starts at the file's current position, which
  // is byte `startOffset` of the file. `name` names the file in fault
  // messages.
  CsvReader(std::FILE* file, std::string name, const CsvLimits& limits, uint64_t startOffset = 0);
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;

  // Reads the next record into fields(). True with *haveRecord set when a
  // record was read, true with *haveRecord false at the end of the file (then
  // cut() tells whether bytes of a cut record are left). False with a
  // finished message in *err on a fault; every later call fails again with
  // the same message. std::bad_alloc when the record finds no memory; the
  // reader then stands before that record again, and the next read() takes
  // it from its start.
  bool read(bool* haveRecord, std::string* err);

  // After a read() that found the end of the file: whether the file ends
  // with a cut record (see the grammar), and the file's length then.
  bool cut() const { return cut_; }
  uint64_t endOffset() const { return readOffset_; }
  // What a cut record is when the file never grows: "<name>:<line>: the
  // last line has no line end", or "...: unterminated quoted field".
  std::string cutFault() const;
  // Makes the next read() begin again at the start of the cut record, taking
  // in what the file has gained meanwhile. False with a finished message in
  // *err when the file cannot be read from there.
  bool resume(std::string* err);

  // The fields of the record read last, viewing the read buffer or a copy of
  // the record's bytes; valid until the next read().
  std::span<const std::string_view> fields() const { return fields_; }

  // The 1-based physical line on which the record read last begins.
  int64_t recordLine() const { return recordLine_; }

  // The OS error number of a failed read, 0 if none; lets the owner tell an
  // unreadable file from a malformed one.
  int readErrno() const { return readErrno_; }

 private:
  enum class FieldEnd { Comma, Record, File };

  // read() from the record's start on, which is noted.
  bool readRecord(bool* haveRecord, std::string* err);
  // Makes the next read() begin again at the start of the record read last;
  // false (and failed) when the file cannot be read from there.
  bool rewindToRecord();
  bool readInBuffer();
  bool more();
  bool startField();
  bool readPlain(FieldEnd* end);
  bool readQuoted(FieldEnd* end);
  bool afterClosingQuote(FieldEnd* end);
  // Consumes `c` (already taken from the buffer) and a following LF when it
  // ends the field: a comma, an LF, or a CR before an LF.
  bool endsField(char c, FieldEnd* end);
  // Appends to the field begun last.
  bool append(const char* data, size_t size);
  bool fault(int64_t line, const std::string& what);

  // Marks the record begun last as cut by the end of the file; false, as the
  // field readers return for a record they cannot finish.
  bool cutAtEnd(int64_t line, const char* what);

  std::FILE* file_;
  std::string name_;
  CsvLimits limits_;
  std::unique_ptr<char[]> buffer_;
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  bool atEof_ = false;
  int readErrno_ = 0;
  int64_t line_ = 1;  // physical line of the byte at pos_
  int64_t recordLine_ = 0;
  uint64_t readOffset_ = 0;    // file offset of the byte after end_
  uint64_t recordOffset_ = 0;  // file offset where the record read last begins
  bool cut_ = false;
  int64_t cutLine_ = 0;
  const char* cutWhat_ = "";
  // The record read last: its field bytes back to back, where each field
  // begins, and the views fields() hands out. Kept across records to reuse
  // their capacity.
  std::string record_;
  std::vector<size_t> fieldStarts_;
  std::vector<std::string_view> fields_;
  std::string fault_;  // non-empty once failed
};

}  // namespace dataserver
