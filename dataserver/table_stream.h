// The data server's view of one subscription: reads a table file and yields,
// one at a time, what the server delivers for it. Both the data server
// embedded in the stand-in library and the network emulator `zuqds` serve
// tables through this class, so the two behave alike.
//
// Table file: CSV whose first record names the columns; columns whose names
// begin with "@" steer the server and are never delivered. The format, and
// how a file still being written is read, in every detail:
// docs/table-files.md (with the README's "Table files").
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
