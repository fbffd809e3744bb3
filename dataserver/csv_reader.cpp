#include "dataserver/csv_reader.h"

#include <array>
#include <cerrno>
#include <system_error>
#include <utility>

namespace dataserver {

namespace {

// A record buffer whose capacity grew above this is dropped rather than
// reused, so one huge record does not pin its memory for the rest of the file.
constexpr size_t kReusedRecordCapacity = 64 * 1024;

// Bytes that end a run of data in an unquoted field, looked up in a table
// since every byte of a table file passes through this test.
constexpr auto kPlainStops = [] {
  std::array<bool, 256> stops{};
  for (unsigned char c : {',', '\n', '\r', '\0'}) stops[c] = true;
  return stops;
}();

bool isPlainStop(char c) { return kPlainStops[static_cast<unsigned char>(c)]; }

}  // namespace

std::string errnoText(int errnum) { return std::generic_category().message(errnum); }

CsvReader::CsvReader(std::FILE* file, std::string name, const CsvLimits& limits)
    : file_(file),
      name_(std::move(name)),
      limits_(limits),
      buffer_(new char[limits.bufferBytes > 0 ? limits.bufferBytes : 1]) {
  if (limits_.bufferBytes == 0) limits_.bufferBytes = 1;
}

bool CsvReader::read(bool* haveRecord, std::string* err) {
  *haveRecord = false;
  if (fault_.empty() && !more() && readErrno_ != 0) fault(line_, "");
  if (!fault_.empty()) {
    *err = fault_;
    return false;
  }
  if (pos_ == end_) return true;  // end of file
  recordLine_ = line_;
  if (readInBuffer()) {
    *haveRecord = true;
    return true;
  }
  if (record_.capacity() > kReusedRecordCapacity) std::string().swap(record_);
  record_.clear();
  fieldStarts_.clear();
  fields_.clear();
  FieldEnd end = FieldEnd::Comma;
  while (end == FieldEnd::Comma) {
    bool ok = startField() && ((more() && *pos_ == '"') ? readQuoted(&end) : readPlain(&end));
    if (!ok) {
      *err = fault_;
      return false;
    }
  }
  // A read error looks like the end of the file to the field readers.
  if (readErrno_ != 0) {
    fault(line_, "");
    *err = fault_;
    return false;
  }
  fieldStarts_.push_back(record_.size());
  for (size_t i = 0; i + 1 < fieldStarts_.size(); ++i) {
    fields_.emplace_back(record_.data() + fieldStarts_[i], fieldStarts_[i + 1] - fieldStarts_[i]);
  }
  *haveRecord = true;
  return true;
}

// Reads the record at pos_ when it lies wholly in the buffer, ends with LF or
// CR LF, holds no quoted field, no other CR and no NUL, and keeps within the
// limits: its fields then view the buffer, with no copy. False, with nothing consumed, otherwise;
// the general readers then take the record and report any fault.
bool CsvReader::readInBuffer() {
  fields_.clear();
  const char* p = pos_;
  size_t separators = 0;
  for (;;) {
    if (fields_.size() == limits_.maxFields || p == end_ || *p == '"') return false;
    const char* start = p;
    while (p < end_ && !isPlainStop(*p)) ++p;
    if (p == end_ || static_cast<size_t>(p - start) > limits_.maxFieldBytes) return false;
    fields_.emplace_back(start, static_cast<size_t>(p - start));
    const char c = *p++;
    if (c == '\n') break;
    if (c == '\r' && p < end_ && *p == '\n') {
      ++p;
      ++separators;
      break;
    }
    if (c != ',') return false;
  }
  // Each field is followed by one separator: a comma, or the final LF or CR LF.
  separators += fields_.size();
  if (static_cast<size_t>(p - pos_) - separators > limits_.maxRecordBytes) return false;
  pos_ = p;
  ++line_;
  return true;
}

// Makes at least one byte available at pos_; false at the end of the file or
// on a read error (then readErrno_ is set).
bool CsvReader::more() {
  if (pos_ < end_) return true;
  if (atEof_ || readErrno_ != 0) return false;
  errno = 0;
  size_t n = std::fread(buffer_.get(), 1, limits_.bufferBytes, file_);
  if (n == 0) {
    if (std::ferror(file_)) {
      readErrno_ = errno != 0 ? errno : EIO;
    } else {
      atEof_ = true;
    }
    return false;
  }
  pos_ = buffer_.get();
  end_ = pos_ + n;
  return true;
}

bool CsvReader::startField() {
  if (fieldStarts_.size() == limits_.maxFields) {
    return fault(recordLine_,
                 "record has more than " + std::to_string(limits_.maxFields) + " fields");
  }
  fieldStarts_.push_back(record_.size());
  return true;
}

bool CsvReader::readPlain(FieldEnd* end) {
  for (;;) {
    if (!more()) {
      *end = FieldEnd::File;
      return true;
    }
    const char* stop = pos_;
    while (stop < end_ && !isPlainStop(*stop)) ++stop;
    if (!append(pos_, static_cast<size_t>(stop - pos_))) return false;
    pos_ = stop;
    if (stop == end_) continue;
    const char c = *pos_++;
    if (endsField(c, end)) return true;
    if (c == '\0') return fault(line_, "NUL byte");
    if (!append("\r", 1)) return false;  // a CR on its own is data
  }
}

// Called with pos_ on the opening quote.
bool CsvReader::readQuoted(FieldEnd* end) {
  const int64_t openLine = line_;
  ++pos_;
  for (;;) {
    if (!more()) return fault(openLine, "unterminated quoted field");
    const char* stop = pos_;
    for (; stop < end_ && *stop != '"' && *stop != '\0'; ++stop) {
      if (*stop == '\n') ++line_;
    }
    if (!append(pos_, static_cast<size_t>(stop - pos_))) return false;
    pos_ = stop;
    if (stop == end_) continue;
    if (*pos_ == '\0') return fault(line_, "NUL byte");
    ++pos_;
    if (more() && *pos_ == '"') {
      ++pos_;
      if (!append("\"", 1)) return false;
      continue;
    }
    return afterClosingQuote(end);
  }
}

bool CsvReader::afterClosingQuote(FieldEnd* end) {
  if (!more()) {
    *end = FieldEnd::File;
    return true;
  }
  if (endsField(*pos_++, end)) return true;
  return fault(line_, "text after a closing quote");
}

bool CsvReader::endsField(char c, FieldEnd* end) {
  if (c == ',') {
    *end = FieldEnd::Comma;
    return true;
  }
  if (c == '\n' || (c == '\r' && more() && *pos_ == '\n')) {
    if (c == '\r') ++pos_;
    ++line_;
    *end = FieldEnd::Record;
    return true;
  }
  return false;
}

bool CsvReader::append(const char* data, size_t size) {
  if (size > limits_.maxFieldBytes - (record_.size() - fieldStarts_.back())) {
    return fault(recordLine_,
                 "field longer than " + std::to_string(limits_.maxFieldBytes) + " bytes");
  }
  if (size > limits_.maxRecordBytes - record_.size()) {
    return fault(recordLine_,
                 "record longer than " + std::to_string(limits_.maxRecordBytes) + " bytes");
  }
  record_.append(data, size);
  return true;
}

// Records the reader's one fault. A pending read error takes precedence, since
// whatever the parser concluded was based on a truncated view of the file.
bool CsvReader::fault(int64_t line, const std::string& what) {
  std::string text = readErrno_ != 0 ? "read failed: " + errnoText(readErrno_) : what;
  fault_ = name_ + ":" + std::to_string(line) + ": " + text;
  return false;
}

}  // namespace dataserver
