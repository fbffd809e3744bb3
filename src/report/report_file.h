// The open report file: a binary stream with our own line-end translation, so
// the bytes on disk are the same on every platform.
#pragma once

#include <string>
#include <string_view>

#include "platform/atomic_file.h"

// Owned by writeTradeReport for the length of one report; single-threaded.
// Text is gathered in `pending` and handed to the stream in large pieces.
struct ReportFile {
  platform::AtomicFile output;
  std::string pending;
  bool failed = false;  // a write failed: the file is not whole
};

// Starts the report at `path`. It appears there only when closeReportFile
// finds it whole; until then an older report stays as it is. False when it
// can't be opened.
bool openReportFile(ReportFile& file, const char* path);

// Writes `text` with every line feed stored as CR LF; nothing else changes.
void writeText(ReportFile& file, std::string_view text);

// Ends the current line (CR LF).
void writeLineEnd(ReportFile& file);

// Writes what is pending, closes the file and puts it in place. False when
// any write, the close or the move failed: the report is then not in place,
// and an older one stays as it was (a device or pipe keeps what it took).
bool closeReportFile(ReportFile& file);
