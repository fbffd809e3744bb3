// The open report file: a binary stream with our own line-end translation, so
// the bytes on disk are the same on every platform.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Owned by writeTradeReport for the length of one report; single-threaded.
// Text is gathered in `pending` and handed to the stream in large pieces.
struct ReportFile {
  std::FILE* stream = nullptr;
  std::string pending;
  bool failed = false;  // a write failed: the file is not whole
};

// Creates the file, or empties an existing one. False when it can't be opened.
bool openReportFile(ReportFile& file, const char* path);

// Writes `text` with every line feed stored as CR LF; nothing else changes.
void writeText(ReportFile& file, std::string_view text);

// Ends the current line (CR LF).
void writeLineEnd(ReportFile& file);

// Writes what is pending and closes the file. False when any write, or the
// close, failed: the file on disk is then not the whole report.
bool closeReportFile(ReportFile& file);
