// The data server's view of one subscription: reads a table file and yields,
// one at a time, what the server delivers for it. Both the data server
// embedded in the stand-in library and the network emulator `zuqds` serve
// tables through this class, so the two behave alike.
//
// Table file: CSV (comma-separated, optional double quotes, "" inside quotes,
// quoted fields may hold commas, CR and LF; records end with LF or CR LF;
// bytes verbatim). The first record names the columns. Columns whose names
// begin with "@" steer the server and are never delivered ("@rowid", "@op",
// "@text", "@ms", "@code").
//
// The details, as this engine serves them:
// - Every record after the first is a line of the table. "@op" says what it
//   does: empty or "add" AddRow, "update" UpdateRow, "delete" DeleteRow,
//   "clear" Clear, "error" Error (text "@text"), "sync" Synchronized (each
//   such line gives one; the lines after it are live rows), "stall" End at
//   once, "pause" Pause (number "@ms", 0 to kMaxPauseMs), "ds_down" DsDown,
//   "ds_up" DsUp, "net_lost" NetLost and "net_ok" NetOk (text "@text"),
//   "code" Code (number "@code", any signed 32-bit value). The words are
//   matched exactly (lower case); a scripted "error" does not end the stream.
// - rowId: "@rowid" in decimal (optional '-', signed 32-bit). Without the
//   column, or where its value is empty, the row's position among the row
//   lines (add, update, delete) of the file: 1, 2, 3, ... Every row line
//   counts, whether the key range delivers it or not, so a row has one id in
//   every subscription.
// - Key range: with `from` and `to` both empty every row line is delivered;
//   otherwise those whose `keyColumn` value v has from <= v <= to, compared
//   byte by byte as unsigned bytes. A missing key column (or one named
//   "@...") reads as empty. Other lines are never filtered.
// - Values: one per requested column (the `columns` text split on ',', no
//   trimming; an empty text requests none), taken from the file column of
//   that name (the first, if the header repeats it). A name the file lacks,
//   or one beginning with "@", is delivered empty. Row values come with
//   AddRow, UpdateRow and DeleteRow; other events carry none.
// - An empty line is a record with one empty field, so it is a line of a
//   one-column table and a malformed record otherwise. A LF at the end of the
//   file ends the last record and starts none. A header-only file gives
//   Synchronized, then End. A UTF-8 byte order mark at the very start of the
//   file is skipped; anywhere else it is data like any other.
// - A line is a line only with its line end: a file may be read while it is
//   being written. Where the file ends without one (a last line cut, a quoted
//   field still open, or no byte at all), the stream yields Pause events of
//   kLineEndPollMs and reads again from that line's start, for as long as
//   the file grows; after kLineEndPolls looks without growth it gives up
//   with an Error: "<table>.csv:<line>: the last line has no line end", the
//   quoted field's "unterminated quoted field", or, for a file without a
//   header line, "<table>.csv: no header line (the file is empty)". A table
//   without its header line is never an empty table.
// - A malformed file gives one Error "<table>.csv:<line>: <fault>" (line
//   1-based, where the faulty record or quoted field begins, or where a NUL
//   byte stands), then End, and never a Synchronized it had not given yet.
//   Lines before the fault have been delivered already.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace dataserver {

// Bounds of one stream's memory; a file beyond them is malformed.
inline constexpr size_t kReadBufferBytes = 64 * 1024;       // one read from the file
inline constexpr size_t kMaxFieldBytes = 1024 * 1024;       // one field, quotes removed
inline constexpr size_t kMaxRecordBytes = 4 * 1024 * 1024;  // the fields of one record
inline constexpr size_t kMaxColumns = 1024;  // fields of a record; also requested columns
inline constexpr int32_t kMaxPauseMs = 60 * 60 * 1000;
inline constexpr int kScanSlice = 4096;
// How a stream waits for the line end of a file being written: a look every
// 50 ms, given up after a second without growth.
inline constexpr int32_t kLineEndPollMs = 50;
inline constexpr int kLineEndPolls = 20;

enum class EventKind {
  AddRow,
  UpdateRow,
  DeleteRow,
  Clear,
  Error,         // text: the description
  Synchronized,  // the table has been delivered in full; later rows are live
  Pause,         // number: milliseconds to wait before the next event
  DsDown,
  DsUp,
  NetLost,  // text
  NetOk,    // text
  Code,     // number: the raw notification code, delivered with no record
  End,      // nothing more will come for this subscription
};

struct TableEvent {
  EventKind kind = EventKind::End;
  int32_t rowId = 0;
  // A row's values, one per requested column in request order, where the
  // event travels whole (a decoded Event); a table stream hands them out as
  // views instead.
  std::vector<std::string> values;
  std::string text;
  int32_t number = 0;
};

// What a subscription asks for.
struct Subscription {
  std::string table;      // file `table`.csv in the data folder
  std::string columns;    // comma-separated requested column names
  std::string keyColumn;  // column compared with the key range
  std::string from;       // both empty: every row; else from <= value <= to, bytewise
  std::string to;
};

// Decides whether next() may build a row line that delivers `valueCount`
// values of `valueBytes` bytes in all: false, with a finished message in
// *err, refuses it. Called on next()'s thread, before any value is handed
// out.
using RowCheck =
    std::function<bool(int32_t rowId, size_t valueCount, size_t valueBytes, std::string* err)>;

// One stream is used by one thread at a time; separate streams share nothing.
class TableStream {
 public:
  TableStream();
  ~TableStream();
  TableStream(const TableStream&) = delete;
  TableStream& operator=(const TableStream&) = delete;

  // Opens the table file for `sub` in folder `dataDir` (<dataDir>/<table>.csv)
  // and reads its header. False with a finished message in *err when:
  // - the table is unknown: no such file, or a name that is empty or holds
  //   '/', '\\', ".." or NUL ("unknown table 'Trade'");
  // - the file is no regular file (a FIFO, a device: "<table>.csv: not a
  //   regular file"); it is never opened in a way that could block;
  // - the file cannot be opened or read ("cannot read <table>.csv: <OS
  //   error>"; no message names the data folder, as a network server sends
  //   them to its clients);
  // - more than kMaxColumns columns are requested.
  // A malformed header is no failure here: the first next() reports it.
  // Opening again starts over with the new subscription.
  bool open(const std::string& dataDir, const Subscription& sub, std::string* err);

  // Checks each row before next() builds it (none by default; kept across
  // open()). A refused row ends the stream: next() yields an Error with the
  // check's message, then End, without handing out the row's values, so a
  // server that cannot send a row never copies it whole (a 1 MiB column
  // requested kMaxColumns times would be 1 GiB).
  void checkRows(RowCheck check);

  // The number of requested columns (0 before a successful open()).
  int columnCount() const;

  // Writes the next event into *out, whose strings keep their capacity from
  // one call to the next; a row event's values go in *values, one per
  // requested column in request order, as views into the stream's read
  // buffer that stay valid until the next call (a server that copies them on
  // at once copies them once). Reads the file incrementally (never whole).
  // After the last line a Synchronized follows unless one came earlier; then
  // End. A "stall" line yields End at once; a malformed file yields one Error
  // naming the file, the line and the fault, then End. End repeats once
  // reached, and is all a stream that is not open yields. After kScanSlice
  // lines in a row that deliver nothing (rows outside the key range) it
  // yields a Pause of 0 ms, so that a server scanning a large table for a few
  // rows still serves its other subscriptions and notices a close in between.
  void next(TableEvent* out, std::vector<std::string_view>* values);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace dataserver
