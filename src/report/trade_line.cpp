#include "report/trade_line.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "report/report_columns.h"

namespace {

struct StatusName {
  int32_t status;
  const char* mnemonic;
};

constexpr StatusName kStatusNames[] = {
    {1, "NEW"},  {2, "COM"},  {3, "VXI"},  {4, "VXC"},  {5, "CXL"},  {11, "DEL"},
    {12, "ONE"}, {14, "NEI"}, {18, "COB"}, {19, "BAC"}, {21, "BAA"}, {22, "BAX"},
    {23, "BAY"}, {24, "NEO"}, {25, "EOM"}, {26, "EOA"},
};

// Every mnemonic, the unknown status's too, has three letters: a line
// writes them without measuring them.
constexpr size_t kMnemonicBytes = 3;
static_assert([] {
  for (const StatusName& name : kStatusNames) {
    if (std::char_traits<char>::length(name.mnemonic) != kMnemonicBytes) return false;
  }
  return true;
}());

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// printf's "%0<width>d": at least `width` characters, zeros between the sign
// and the digits, never cut. `out` holds at least 24 characters.
size_t formatPaddedAny(char* out, int64_t value, int width) {
  char digits[24];
  const uint64_t magnitude =
      value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  const size_t count =
      static_cast<size_t>(std::to_chars(digits, digits + 24, magnitude).ptr - digits);
  size_t at = 0;
  if (value < 0) out[at++] = '-';
  for (size_t used = at + count; used < static_cast<size_t>(width); ++used) out[at++] = '0';
  for (size_t i = 0; i < count; ++i) out[at++] = digits[i];
  return at;
}

constexpr uint32_t powerOfTen(int exponent) {
  return exponent == 0 ? 1 : 10 * powerOfTen(exponent - 1);
}

// The same for a width known here; its common case, digits that fill the
// width exactly, is written two digits at a time.
template <int Width>
size_t formatPadded(char* out, int64_t value) {
  static_assert(Width >= 1 && Width <= 9);
  if (value < 0 || value >= powerOfTen(Width)) return formatPaddedAny(out, value, Width);
  auto rest = static_cast<uint32_t>(value);
  int at = Width;
  for (; at >= 2; at -= 2, rest /= 100)
    std::memcpy(out + at - 2, kDigitPairs + 2 * (rest % 100), 2);
  if (at == 1) out[0] = static_cast<char>('0' + rest);
  return Width;
}

}  // namespace

const char* statusMnemonic(int32_t status) {
  for (const StatusName& name : kStatusNames) {
    if (name.status == status) return name.mnemonic;
  }
  return "???";
}

void writeField(ReportFile& file, std::string_view text, std::string_view delimiter) {
  file.append(text);
  file.append(delimiter);
}

namespace {

// The most bytes a column of `fill` writes besides a kept text: the status
// mnemonic, a date or a time of 16-bit fields, the 32-bit "Trans".
constexpr size_t mostFixedBytes(ColumnFill fill) {
  switch (fill) {
    case ColumnFill::Status:
      return kMnemonicBytes;
    case ColumnFill::Settle:
    case ColumnFill::TradeDate:
    case ColumnFill::TradeTime:
      return 3 * 5 + 2;
    case ColumnFill::Trans:
      return 11;
    case ColumnFill::Text:
      break;
  }
  return 0;
}

// The most bytes a line writes besides its texts and delimiters,
// untranslated: its columns' and the line end.
constexpr size_t mostFixedLineBytes() {
  size_t bytes = 2;
  for (const ReportColumn& column : kReportColumns) bytes += mostFixedBytes(column.fill);
  return bytes;
}
constexpr size_t kMostFixedBytes = mostFixedLineBytes();
// Room enough for a date, a time or the "Trans" number, formatted.
constexpr size_t kMostFormattedBytes = 40;

char* formatDate(char* out, const DateTimeValue& value, int32_t dateFormat) {
  if (dateFormat == 0) {
    out += formatPadded<4>(out, value.year);
    out += formatPadded<2>(out, value.month);
    return out + formatPadded<2>(out, value.day);
  }
  out += formatPadded<2>(out, value.day);
  *out++ = '/';
  out += formatPadded<2>(out, value.month);
  *out++ = '/';
  return out + formatPadded<4>(out, value.year);
}

char* formatTime(char* out, const DateTimeValue& value) {
  out += formatPadded<2>(out, value.hour);
  *out++ = ':';
  out += formatPadded<2>(out, value.minute);
  *out++ = ':';
  return out + formatPadded<2>(out, value.second);
}

// Lays column `Column` of the line out through `out`.
template <size_t Column, typename Out>
void layOutColumn(Out& out, const KeptTrade& line, int32_t dateFormat) {
  constexpr ReportColumn kColumn = kReportColumns[Column];
  if constexpr (kColumn.fill == ColumnFill::Text) {
    out.text(line.texts[kColumn.text]);
  } else if constexpr (kColumn.fill == ColumnFill::Status) {
    out.text(std::string_view(statusMnemonic(line.status), kMnemonicBytes));
  } else if constexpr (kColumn.fill == ColumnFill::Settle) {
    out.formatted([&](char* at) { return formatDate(at, line.deliveryDate, dateFormat); });
  } else if constexpr (kColumn.fill == ColumnFill::Trans) {
    out.formatted([&](char* at) { return at + formatPadded<9>(at, line.rowID); });
  } else if constexpr (kColumn.fill == ColumnFill::TradeDate) {
    out.formatted([&](char* at) { return formatDate(at, line.tradeMoment, dateFormat); });
  } else {
    static_assert(kColumn.fill == ColumnFill::TradeTime);
    out.formatted([&](char* at) { return formatTime(at, line.tradeMoment); });
  }
}

// Lays the line out, without its line end, as it stands in memory: one
// byte, text or formatted number after the other through `out`, which takes
// text(view), byte(c) and formatted(f), where f(char* at) writes at most
// kMostFormattedBytes at `at` and returns the end. Every column but the
// last is followed by the delimiter.
template <typename Out>
void layOutLine(Out& out, const KeptTrade& line, std::string_view delimiter, int32_t dateFormat) {
  // Most reports have a one-byte delimiter, usually ";".
  const bool oneByte = delimiter.size() == 1;
  auto delimit = [&] { oneByte ? out.byte(delimiter[0]) : out.text(delimiter); };
  [&]<size_t... Columns>(std::index_sequence<Columns...>) {
    ((layOutColumn<Columns>(out, line, dateFormat),
      Columns + 1 < kReportColumnCount ? delimit() : void()),
     ...);
  }
  (std::make_index_sequence<kReportColumnCount>());
}

// Lays a line out straight into room reserved in the report's buffer, as
// its bytes are; the caller has made sure that they fit.
struct IntoReservedRoom {
  char* end;
  void text(std::string_view text) {
    if (!text.empty()) std::memcpy(end, text.data(), text.size());
    end += text.size();
  }
  void byte(char c) { *end++ = c; }
  template <typename Format>
  void formatted(Format format) {
    end = format(end);
  }
};

// Lays a line out through the report's translating append, piece by piece.
struct ThroughAppend {
  ReportFile& file;
  void text(std::string_view text) { file.append(text); }
  void byte(char c) { file.append(std::string_view(&c, 1)); }
  template <typename Format>
  void formatted(Format format) {
    char piece[kMostFormattedBytes];
    file.append(std::string_view(piece, static_cast<size_t>(format(piece) - piece)));
  }
};

}  // namespace

void writeDate(ReportFile& file, const DateTimeValue& value, int32_t dateFormat) {
  char text[kMostFormattedBytes];
  file.append(
      std::string_view(text, static_cast<size_t>(formatDate(text, value, dateFormat) - text)));
}

void writeTime(ReportFile& file, const DateTimeValue& value) {
  char text[kMostFormattedBytes];
  file.append(std::string_view(text, static_cast<size_t>(formatTime(text, value) - text)));
}

namespace {

// What one pass over a line laid out in memory found: how many of its bytes
// are the one-byte delimiter, and whether one is a line feed.
struct LineBytes {
  size_t delimiters = 0;
  bool lineFeed = false;
};

constexpr size_t kChunkBytes = 16;

// 1 from byte kChunkBytes on: kFromByte + kChunkBytes - from is 1 at and
// past `from`, 0 before it.
constexpr unsigned char kFromByte[2 * kChunkBytes] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};

// Counts the bytes of the chunk at `at` from its byte `from` on. A fixed
// number of bytes with no branch, which compilers turn into a few vector
// instructions.
inline void countChunk(const char* at, size_t from, char delimiter, LineBytes* found) {
  const unsigned char* const counted = kFromByte + kChunkBytes - from;
  unsigned char delimiters = 0;
  unsigned char lineFeeds = 0;
  for (size_t i = 0; i < kChunkBytes; ++i) {
    delimiters += counted[i] & (at[i] == delimiter);
    lineFeeds |= counted[i] & (at[i] == '\n');
  }
  found->delimiters += delimiters;
  found->lineFeed = found->lineFeed || lineFeeds != 0;
}

LineBytes countLineBytes(const char* at, size_t size, char delimiter) {
  LineBytes found;
  if (size < kChunkBytes) {
    for (size_t i = 0; i < size; ++i) {
      found.delimiters += at[i] == delimiter;
      found.lineFeed = found.lineFeed || at[i] == '\n';
    }
    return found;
  }
  size_t done = 0;
  for (; done + kChunkBytes <= size; done += kChunkBytes)
    countChunk(at + done, 0, delimiter, &found);
  // The rest as the last whole chunk, its bytes already counted skipped.
  if (done != size) {
    countChunk(at + size - kChunkBytes, kChunkBytes - (size - done), delimiter, &found);
  }
  return found;
}

// Writes the line. When `counting`, what a pass over the line as laid out
// found of the delimiter's first byte (a line feed's for the empty one) in
// *found; false when the line went the translating way, not looked through.
bool writeLine(ReportFile& file, const KeptTrade& line, std::string_view delimiter,
               int32_t dateFormat, bool counting, LineBytes* found) {
  size_t most = kMostFixedBytes + kReportDelimiters * delimiter.size();
  for (std::string_view text : line.texts) most += text.size();
  // The common case is written in one go, without a check per field: texts
  // are copied whole into the buffer, then the line is looked through once
  // for a line feed (and, when counting, its delimiters).
  if (char* const start = file.reserve(most)) {
    IntoReservedRoom room{start};
    layOutLine(room, line, delimiter, dateFormat);
    const auto length = static_cast<size_t>(room.end - start);
    bool lineFeed = false;
    if (counting) {
      *found = countLineBytes(start, length, delimiter.empty() ? '\n' : delimiter[0]);
      lineFeed = found->lineFeed;
    } else {
      lineFeed = std::memchr(start, '\n', length) != nullptr;
    }
    if (!lineFeed) {
      room.end[0] = '\r';
      room.end[1] = '\n';
      file.commit(length + 2);
      return true;
    }
  }
  // The rare line that holds a line feed, or is larger than the buffer (a
  // huge memo), is written again over what was reserved, translated.
  ThroughAppend translated{file};
  layOutLine(translated, line, delimiter, dateFormat);
  file.endLine();
  return false;
}

}  // namespace

void writeTradeLine(ReportFile& file, const KeptTrade& line, std::string_view delimiter,
                    int32_t dateFormat) {
  LineBytes ignored;
  writeLine(file, line, delimiter, dateFormat, false, &ignored);
}

void writeCountedTradeLine(ReportFile& file, const KeptTrade& line, std::string_view delimiter,
                           int32_t dateFormat, StraySeparators* strayed) {
  // The line's own delimiters hold their first byte a known number of
  // times; the fixed columns and the texts can only add to that. When
  // nothing adds and there is no line feed, no text holds a separator, and
  // the texts need no look of their own: almost every line.
  const char first = delimiter.empty() ? '\n' : delimiter[0];
  size_t own = 0;
  for (const char c : delimiter) own += c == first ? kReportDelimiters : 0;
  LineBytes found;
  const bool looked = writeLine(file, line, delimiter, dateFormat, true, &found);
  if (looked && !found.lineFeed && found.delimiters == own) return;
  strayed->count(line, delimiter);
}

namespace {

constexpr uint64_t kOnes = 0x0101010101010101u;
constexpr uint64_t kHighs = 0x8080808080808080u;

// Non-zero exactly when a byte of `word` is zero.
uint64_t anyZeroByte(uint64_t word) { return (word - kOnes) & ~word & kHighs; }

// A word that holds every byte of the `size` bytes at `at` (1 to 8), some
// of them twice, read without reading past them.
inline uint64_t wordOf(const char* at, size_t size) {
  if (size >= 8) {
    uint64_t word;
    std::memcpy(&word, at, 8);
    return word;
  }
  if (size >= 4) {
    uint32_t first;
    uint32_t last;
    std::memcpy(&first, at, 4);
    std::memcpy(&last, at + size - 4, 4);
    return first | uint64_t{last} << 32;
  }
  if (size >= 2) {
    uint16_t first;
    uint16_t last;
    std::memcpy(&first, at, 2);
    std::memcpy(&last, at + size - 2, 2);
    const uint64_t both = first | uint64_t{last} << 16;
    return both | both << 32;
  }
  return kOnes * static_cast<unsigned char>(at[0]);
}

// Adds to *found the bytes of `text` equal to `a` or to `b` (each repeated
// in a word), so that *found is non-zero exactly when there is one. Eight
// bytes at a time, with no branch on what it finds: every line of a report
// is looked through, and its texts seldom hold either.
inline void findEither(std::string_view text, uint64_t aBytes, uint64_t bBytes, uint64_t* found) {
  const char* at = text.data();
  size_t left = text.size();
  if (left == 0) return;
  for (; left > 8; left -= 8, at += 8) {
    uint64_t word;
    std::memcpy(&word, at, 8);
    *found |= anyZeroByte(word ^ aBytes) | anyZeroByte(word ^ bBytes);
  }
  const uint64_t word = wordOf(at, left);
  *found |= anyZeroByte(word ^ aBytes) | anyZeroByte(word ^ bBytes);
}

bool holdsEither(std::string_view text, char a, char b) {
  uint64_t found = 0;
  findEither(text, kOnes * static_cast<unsigned char>(a), kOnes * static_cast<unsigned char>(b),
             &found);
  return found != 0;
}

// Whether `text` holds `delimiter` or a line feed.
bool holdsSeparator(std::string_view text, std::string_view delimiter) {
  // The empty delimiter never splits: the line feed's byte stands for it.
  // A longer one is looked for where its first byte is.
  if (!holdsEither(text, delimiter.empty() ? '\n' : delimiter[0], '\n')) return false;
  return delimiter.size() <= 1 || text.find('\n') != std::string_view::npos ||
         text.find(delimiter) != std::string_view::npos;
}

}  // namespace

StraySeparator findStraySeparator(const KeptTrade& line, std::string_view delimiter) {
  // First all texts at once for the delimiter's first byte (a line feed's
  // for the empty one) or a line feed: almost every line holds neither.
  const uint64_t first =
      kOnes * static_cast<unsigned char>(delimiter.empty() ? '\n' : delimiter[0]);
  const uint64_t lineFeed = kOnes * '\n';
  uint64_t found = 0;
  for (const std::string_view text : line.texts) findEither(text, first, lineFeed, &found);
  if (found == 0) return {};
  for (int text = 0; text < kKeptTextCount; ++text) {
    const std::string_view held = line.texts[text];
    if (holdsSeparator(held, delimiter)) {
      return StraySeparator{text, held.find('\n') != std::string_view::npos};
    }
  }
  return {};
}

void StraySeparators::count(const KeptTrade& line, std::string_view delimiter) {
  const StraySeparator found = findStraySeparator(line, delimiter);
  if (!found) return;
  if (trades++ == 0) {
    firstRowID = line.rowID;
    first = found;
  }
}

void StraySeparators::append(const StraySeparators& later) {
  if (trades == 0) {
    firstRowID = later.firstRowID;
    first = later.first;
  }
  trades += later.trades;
}
