#include "dataserver/table_stream.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "dataserver/csv_reader.h"
#include "dataserver/log_text.h"
#include "platform/error_text.h"
#include "platform/regular_file.h"

namespace dataserver {

namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// What a control line carries besides its kind.
enum class Payload { None, Text, Ms, Code };

struct ControlOp {
  std::string_view name;
  EventKind kind;
  Payload payload;
};

constexpr ControlOp kControlOps[] = {
    {"clear", EventKind::Clear, Payload::None},       {"error", EventKind::Error, Payload::Text},
    {"sync", EventKind::Synchronized, Payload::None}, {"pause", EventKind::Pause, Payload::Ms},
    {"ds_down", EventKind::DsDown, Payload::None},    {"ds_up", EventKind::DsUp, Payload::None},
    {"net_lost", EventKind::NetLost, Payload::Text},  {"net_ok", EventKind::NetOk, Payload::Text},
    {"code", EventKind::Code, Payload::Code},
};

// A table file saved with a UTF-8 byte order mark starts with it; it is no
// part of the first column's name. Anything else is read from the start.
// Returns the offset where the text begins.
uint64_t skipByteOrderMark(std::FILE* file) {
  static constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
  char start[sizeof kUtf8Bom - 1];
  if (std::fread(start, 1, sizeof start, file) == sizeof start &&
      std::memcmp(start, kUtf8Bom, sizeof start) == 0) {
    return sizeof start;
  }
  std::clearerr(file);
  std::rewind(file);
  return 0;
}

bool parseInt32(std::string_view text, int32_t* value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return !text.empty() && ec == std::errc() && ptr == end;
}

// A name that would reach outside the data folder, or no name at all.
bool isTableNameValid(const std::string& table) {
  return !table.empty() && table.find_first_of(std::string_view("/\\\0", 3)) == std::string::npos &&
         table.find("..") == std::string::npos;
}

std::vector<std::string> splitColumns(const std::string& columns) {
  std::vector<std::string> names;
  if (columns.empty()) return names;
  size_t start = 0;
  for (;;) {
    size_t comma = columns.find(',', start);
    names.push_back(columns.substr(start, comma - start));
    if (comma == std::string::npos) return names;
    start = comma + 1;
  }
}

void setControl(TableEvent* out, EventKind kind) {
  out->kind = kind;
  out->rowId = 0;
  out->text.clear();
  out->number = 0;
}

}  // namespace

struct TableStream::Impl {
  enum class State { Closed, Lines, Finished };

  bool openFile(const std::string& path, const std::string& table, std::string* err);
  void startReader();
  bool readHeader(std::string* err);
  bool headerArrived(TableEvent* out);
  void mapColumns();
  bool waitForLineEnd(TableEvent* out, const std::string& giveUp);
  bool line(TableEvent* out);
  bool rowLine(EventKind kind, TableEvent* out);
  bool controlLine(std::string_view op, TableEvent* out);
  bool fail(TableEvent* out, const std::string& message);
  bool failLine(TableEvent* out, const std::string& what);
  std::string_view field(int column) const {
    return column < 0 ? std::string_view() : reader->fields()[column];
  }

  State state = State::Closed;
  std::string fileName;  // "<table>.csv": how messages name the file
  std::unique_ptr<std::FILE, FileCloser> file;
  std::unique_ptr<CsvReader> reader;
  std::string headerFault;  // a malformed header, reported by the first next()
  // No whole header line yet (an empty file, or one cut): next() waits for it.
  bool headerPending = false;
  size_t headerFields = 0;
  Subscription sub;
  std::vector<std::string> requested;  // the requested column names
  std::vector<int> requestedColumns;   // file column per requested column, -1: none
  int rowIdColumn = -1;
  int opColumn = -1;
  int textColumn = -1;
  int msColumn = -1;
  int codeColumn = -1;
  int keyColumn = -1;
  bool ranged = false;
  std::string from;
  std::string to;
  int64_t rowLines = 0;  // row lines read so far, filtered or not
  bool synchronized = false;
  // Waiting for a line end: the file's length at the last look, the looks
  // since it last grew, and whether the next next() reads again.
  uint64_t cutEnd = 0;
  int stillPolls = 0;
  bool readAgain = false;
  RowCheck rowCheck;                                   // may be empty
  std::vector<std::string_view>* rowValues = nullptr;  // the current next()'s values
};

TableStream::TableStream() : impl_(std::make_unique<Impl>()) {}
TableStream::~TableStream() = default;

bool TableStream::open(const std::string& dataDir, const Subscription& sub, std::string* err) {
  RowCheck rowCheck = std::move(impl_->rowCheck);
  impl_ = std::make_unique<Impl>();
  impl_->rowCheck = rowCheck;
  Impl& stream = *impl_;
  if (!isTableNameValid(sub.table)) {
    *err = "unknown table '" + controlsMasked(sub.table) + "'";
    return false;
  }
  std::vector<std::string> requested = splitColumns(sub.columns);
  if (requested.size() > kMaxColumns) {
    *err = "table '" + controlsMasked(sub.table) + "': more than " + std::to_string(kMaxColumns) +
           " columns requested";
    return false;
  }
  stream.fileName = sub.table + ".csv";
  std::string path = dataDir.empty() ? stream.fileName : dataDir + "/" + stream.fileName;
  if (!stream.openFile(path, sub.table, err)) return false;
  if (!stream.readHeader(err)) {
    impl_ = std::make_unique<Impl>();
    impl_->rowCheck = std::move(rowCheck);
    return false;
  }
  stream.sub = sub;
  stream.requested = std::move(requested);
  if (stream.headerPending) {
    stream.cutEnd = stream.reader->endOffset();
    stream.readAgain = true;  // at once: the file may have grown since
  } else {
    stream.mapColumns();
  }
  stream.state = Impl::State::Lines;
  return true;
}

bool TableStream::Impl::openFile(const std::string& path, const std::string& table,
                                 std::string* err) {
  int error = 0;
  file.reset(platform::openRegularFile(path.c_str(), &error));
  if (!file) {
    if (error == ENOENT) {
      *err = "unknown table '" + controlsMasked(table) + "'";
    } else if (error == platform::kNotRegularFile) {
      *err = fileName + ": not a regular file";
    } else {
      *err = "cannot read " + fileName + ": " + platform::errnoText(error);
    }
    return false;
  }
  // The reader's buffer is the only one: stdio's would copy every byte twice.
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  startReader();
  return true;
}

// Reads the file from its start. A byte order mark may arrive after an
// empty file was opened, so each start looks for it anew.
void TableStream::Impl::startReader() {
  const uint64_t start = skipByteOrderMark(file.get());
  reader = std::make_unique<CsvReader>(
      file.get(), fileName,
      CsvLimits{kReadBufferBytes, kMaxFieldBytes, kMaxRecordBytes, kMaxColumns}, start);
}

// Reads the first record. A directory, for one, opens but fails its first
// read, and is reported here as unreadable rather than later as malformed.
bool TableStream::Impl::readHeader(std::string* err) {
  bool haveHeader = false;
  std::string fault;
  if (!reader->read(&haveHeader, &fault)) {
    if (reader->readErrno() != 0) {
      *err = "cannot read " + fileName + ": " + platform::errnoText(reader->readErrno());
      return false;
    }
    headerFault = fault;
  }
  headerPending = headerFault.empty() && !haveHeader;
  return true;
}

// Reads the header line again once the file may have grown; true when *out
// holds an event (a Pause while waiting, an Error).
bool TableStream::Impl::headerArrived(TableEvent* out) {
  if (!platform::seekRegularFile(file.get(), 0)) {
    return fail(out,
                "cannot read " + fileName + ": " + platform::errnoText(errno != 0 ? errno : EIO));
  }
  startReader();
  bool haveHeader = false;
  std::string fault;
  if (!reader->read(&haveHeader, &fault)) return fail(out, fault);
  if (!haveHeader) {
    return waitForLineEnd(out, reader->cut() ? reader->cutFault()
                                             : fileName + ": no header line (the file is empty)");
  }
  headerPending = false;
  mapColumns();
  return false;
}

// A file that ends without a line end may be one still being written: its
// last line is no line until its line end arrives. The stream looks again
// every kLineEndPollMs while the file grows, and gives up with `giveUp`
// after kLineEndPolls looks without growth. True, as *out holds an event.
bool TableStream::Impl::waitForLineEnd(TableEvent* out, const std::string& giveUp) {
  const uint64_t end = reader->endOffset();
  if (end != cutEnd) {
    cutEnd = end;
    stillPolls = 0;
  }
  if (stillPolls == kLineEndPolls) return fail(out, giveUp);
  ++stillPolls;
  setControl(out, EventKind::Pause);
  out->number = kLineEndPollMs;
  readAgain = true;
  return true;
}

void TableStream::Impl::mapColumns() {
  std::unordered_map<std::string_view, int> dataColumns;
  const std::pair<std::string_view, int*> controls[] = {
      {"@rowid", &rowIdColumn}, {"@op", &opColumn},     {"@text", &textColumn},
      {"@ms", &msColumn},       {"@code", &codeColumn},
  };
  auto header = headerFault.empty() ? reader->fields() : std::span<const std::string_view>();
  headerFields = header.size();
  for (size_t column = 0; column < header.size(); ++column) {
    const std::string_view name = header[column];
    if (!name.starts_with('@')) {
      dataColumns.emplace(name, static_cast<int>(column));  // the first of a name wins
      continue;
    }
    for (const auto& [controlName, controlColumn] : controls) {
      if (name == controlName && *controlColumn < 0) *controlColumn = static_cast<int>(column);
    }
  }
  auto columnOf = [&](const std::string& name) {
    auto it = name.starts_with('@') ? dataColumns.end() : dataColumns.find(name);
    return it == dataColumns.end() ? -1 : it->second;
  };
  for (const std::string& name : requested) requestedColumns.push_back(columnOf(name));
  keyColumn = columnOf(sub.keyColumn);
  ranged = !sub.from.empty() || !sub.to.empty();
  from = sub.from;
  to = sub.to;
}

void TableStream::checkRows(RowCheck check) { impl_->rowCheck = std::move(check); }

int TableStream::columnCount() const { return static_cast<int>(impl_->requested.size()); }

void TableStream::next(TableEvent* out, std::vector<std::string_view>* values) {
  Impl& stream = *impl_;
  stream.rowValues = values;
  if (stream.state == Impl::State::Lines && !stream.headerFault.empty()) {
    stream.fail(out, stream.headerFault);
    return;
  }
  if (stream.state == Impl::State::Lines && stream.readAgain) {
    stream.readAgain = false;
    std::string fault;
    if (stream.headerPending) {
      if (stream.headerArrived(out)) return;
    } else if (!stream.reader->resume(&fault)) {
      stream.fail(out, fault);
      return;
    }
  }
  for (int scanned = 0; stream.state == Impl::State::Lines; ++scanned) {
    if (scanned == kScanSlice) {
      setControl(out, EventKind::Pause);
      return;
    }
    bool haveRecord = false;
    std::string fault;
    if (!stream.reader->read(&haveRecord, &fault)) {
      stream.fail(out, fault);
      return;
    }
    if (!haveRecord) {
      if (stream.reader->cut()) {
        stream.waitForLineEnd(out, stream.reader->cutFault());
        return;
      }
      stream.state = Impl::State::Finished;
      if (stream.synchronized) break;
      stream.synchronized = true;
      setControl(out, EventKind::Synchronized);
      return;
    }
    if (stream.line(out)) return;
  }
  setControl(out, EventKind::End);
}

// Handles the record just read; true when it put an event into *out.
bool TableStream::Impl::line(TableEvent* out) {
  size_t fields = reader->fields().size();
  if (fields != headerFields) {
    return failLine(out, "record has " + std::to_string(fields) +
                             (fields == 1 ? " field" : " fields") + ", header has " +
                             std::to_string(headerFields));
  }
  std::string_view op = field(opColumn);
  if (op.empty() || op == "add") return rowLine(EventKind::AddRow, out);
  if (op == "update") return rowLine(EventKind::UpdateRow, out);
  if (op == "delete") return rowLine(EventKind::DeleteRow, out);
  return controlLine(op, out);
}

bool TableStream::Impl::rowLine(EventKind kind, TableEvent* out) {
  ++rowLines;
  int32_t rowId = static_cast<int32_t>(rowLines);
  std::string_view rowIdText = field(rowIdColumn);
  if (!rowIdText.empty() && !parseInt32(rowIdText, &rowId)) {
    return failLine(out, "bad @rowid '" + controlsMasked(rowIdText) + "'");
  }
  if (ranged) {
    // string_view compares as unsigned bytes, which is the order keys have.
    std::string_view key = field(keyColumn);
    if (key < from || key > to) return false;
  }
  if (rowCheck) {
    size_t valueBytes = 0;
    for (int column : requestedColumns) valueBytes += field(column).size();
    std::string refusal;
    if (!rowCheck(rowId, requestedColumns.size(), valueBytes, &refusal)) return fail(out, refusal);
  }
  out->kind = kind;
  out->rowId = rowId;
  out->text.clear();
  out->number = 0;
  rowValues->resize(requestedColumns.size());
  for (size_t valueIndex = 0; valueIndex < requestedColumns.size(); ++valueIndex) {
    (*rowValues)[valueIndex] = field(requestedColumns[valueIndex]);
  }
  return true;
}

bool TableStream::Impl::controlLine(std::string_view op, TableEvent* out) {
  for (const ControlOp& control : kControlOps) {
    if (op != control.name) continue;
    setControl(out, control.kind);
    if (control.payload == Payload::Text) out->text = field(textColumn);
    if (control.payload == Payload::Ms && (!parseInt32(field(msColumn), &out->number) ||
                                           out->number < 0 || out->number > kMaxPauseMs)) {
      return failLine(out, "bad @ms '" + controlsMasked(field(msColumn)) + "' (0 to " +
                               std::to_string(kMaxPauseMs) + ")");
    }
    if (control.payload == Payload::Code && !parseInt32(field(codeColumn), &out->number)) {
      return failLine(out, "bad @code '" + controlsMasked(field(codeColumn)) + "'");
    }
    if (control.kind == EventKind::Synchronized) synchronized = true;
    return true;
  }
  if (op == "stall") {
    state = State::Finished;
    return false;
  }
  return failLine(out, "unknown @op '" + controlsMasked(op) + "'");
}

// Ends the stream with the Error `message`; true, as *out holds an event.
bool TableStream::Impl::fail(TableEvent* out, const std::string& message) {
  setControl(out, EventKind::Error);
  out->text = message;
  state = State::Finished;
  return true;
}

bool TableStream::Impl::failLine(TableEvent* out, const std::string& what) {
  return fail(out, fileName + ":" + std::to_string(reader->recordLine()) + ": " + what);
}

}  // namespace dataserver
