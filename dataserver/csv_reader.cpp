#include "dataserver/csv_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

#include "platform/error_text.h"
#include "platform/regular_file.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace dataserver {

namespace {

// A record buffer whose capacity grew above this is dropped rather than
// reused, so one huge record does not pin its memory for the rest of the file.
constexpr size_t kReusedRecordCapacity = 64 * 1024;

// Bytes that end a run of data in an unquoted field: comma, LF, CR and NUL.
constexpr auto kPlainStops = [] {
  std::array<bool, 256> stops{};
  for (unsigned char c : {',', '\n', '\r', '\0'}) stops[c] = true;
  return stops;
}();

bool isPlainStop(char c) { return kPlainStops[static_cast<unsigned char>(c)]; }

// Every byte of a table file passes through the search for stops, so it
// marks the stops of a block of bytes at once, with vector compares where the
// processor has them, and hands them out one by one.
constexpr ptrdiff_t kBlockBytes = 16;

// Bit i set when block[i], i < size, is a stop.
uint32_t markStops(const char* block, ptrdiff_t size) {
  uint32_t marks = 0;
  for (ptrdiff_t i = 0; i < size; ++i) {
    if (isPlainStop(block[i])) marks |= uint32_t{1} << i;
  }
  return marks;
}

#if defined(__SSE2__)
// The same for a whole block.
uint32_t markStops(const char* block) {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block));
  const __m128i stops = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8(',')),
                                                  _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))),
                                     _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')),
                                                  _mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
  return static_cast<uint32_t>(_mm_movemask_epi8(stops));
}
#else
uint32_t markStops(const char* block) { return markStops(block, kBlockBytes); }
#endif

// Hands out the stops (comma, LF, CR, NUL) in [begin, end) in order.
class PlainStops {
 public:
  PlainStops(const char* begin, const char* end) : block_(begin), end_(end) { mark(); }

  // The next stop, or `end` when there is none.
  const char* next() {
    while (marks_ == 0) {
      if (end_ - block_ <= kBlockBytes) return end_;
      block_ += kBlockBytes;
      mark();
    }
    const int at = std::countr_zero(marks_);
    marks_ &= marks_ - 1;
    return block_ + at;
  }

 private:
  void mark() {
    marks_ = end_ - block_ >= kBlockBytes ? markStops(block_) : markStops(block_, end_ - block_);
  }

  const char* block_;  // the block marks_ describes
  const char* end_;
  uint32_t marks_ = 0;  // the stops in the block not handed out yet
};

}  // namespace

CsvReader::CsvReader(std::FILE* file, std::string name, const CsvLimits& limits,
                     uint64_t startOffset)
    : file_(file),
      name_(std::move(name)),
      limits_(limits),
      buffer_(new char[limits.bufferBytes > 0 ? limits.bufferBytes : 1]),
      readOffset_(startOffset) {
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
  recordOffset_ = readOffset_ - static_cast<uint64_t>(end_ - pos_);
  try {
    return readRecord(haveRecord, err);
  } catch (const std::bad_alloc&) {
    // No memory for the record's copy: the next read() takes it again from
    // its start, so that a server that finds memory again misses no line. A
    // file that cannot be read from there leaves the reader failed.
    std::string().swap(record_);
    fieldStarts_.clear();
    fields_.clear();
    rewindToRecord();
    throw;
  }
}

bool CsvReader::readRecord(bool* haveRecord, std::string* err) {
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
      if (cut_) return true;
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
  if (end == FieldEnd::File) {
    cutAtEnd(recordLine_, "the last line has no line end");
    return true;
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
  // Copies the compiler need not reload after each store to fields_.
  const char* const end = end_;
  const size_t maxFieldBytes = limits_.maxFieldBytes;
  const size_t maxFields = limits_.maxFields;
  if (maxFields == 0 || pos_ == end || *pos_ == '"') return false;
  PlainStops stops(pos_, end);
  const char* start = pos_;
  const char* p = nullptr;
  size_t separators = 0;
  for (;;) {
    p = stops.next();
    if (p == end || static_cast<size_t>(p - start) > maxFieldBytes) return false;
    fields_.emplace_back(start, static_cast<size_t>(p - start));
    const char c = *p++;
    if (c == '\n') break;
    if (c == '\r' && p < end && *p == '\n') {
      ++p;
      ++separators;
      break;
    }
    if (c != ',') return false;
    if (fields_.size() == maxFields || p == end || *p == '"') return false;
    start = p;
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
  readOffset_ += n;
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
    const char* stop = PlainStops(pos_, end_).next();
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
    if (!more()) {
      if (readErrno_ != 0) return fault(openLine, "");
      return cutAtEnd(openLine, "unterminated quoted field");
    }
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
  // Grown by doubling, but never past the largest record the limits allow:
  // a large record then costs no block much larger than itself.
  if (size > record_.capacity() - record_.size()) {
    record_.reserve(
        std::min(std::max(record_.size() + size, 2 * record_.capacity()), limits_.maxRecordBytes));
  }
  record_.append(data, size);
  return true;
}

bool CsvReader::cutAtEnd(int64_t line, const char* what) {
  cut_ = true;
  cutLine_ = line;
  cutWhat_ = what;
  return false;
}

std::string CsvReader::cutFault() const {
  return name_ + ":" + std::to_string(cutLine_) + ": " + cutWhat_;
}

bool CsvReader::resume(std::string* err) {
  if (!cut_) return true;
  if (!rewindToRecord()) {
    *err = fault_;
    return false;
  }
  return true;
}

bool CsvReader::rewindToRecord() {
  if (!platform::seekRegularFile(file_, recordOffset_)) {
    return fault(recordLine_, "read failed: cannot return to the last line");
  }
  cut_ = false;
  atEof_ = false;
  pos_ = end_ = nullptr;
  readOffset_ = recordOffset_;
  line_ = recordLine_;
  return true;
}

// Records the reader's one fault. A pending read error takes precedence, since
// whatever the parser concluded was based on a truncated view of the file.
bool CsvReader::fault(int64_t line, const std::string& what) {
  std::string text = readErrno_ != 0 ? "read failed: " + platform::errnoText(readErrno_) : what;
  fault_ = name_ + ":" + std::to_string(line) + ": " + text;
  return false;
}

}  // namespace dataserver
