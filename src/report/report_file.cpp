#include "report/report_file.h"

#include <cstdio>

namespace {

constexpr size_t kPendingLimit = 64 * 1024;

void writePending(ReportFile& file) {
  const size_t count = file.pending.size();
  if (count != 0 && std::fwrite(file.pending.data(), 1, count, file.output.stream) != count) {
    file.failed = true;
  }
  file.pending.clear();
}

}  // namespace

bool openReportFile(ReportFile& file, const char* path) {
  file.pending.reserve(kPendingLimit + 4096);
  file.failed = false;
  return platform::openAtomicFile(path, &file.output);
}

void writeText(ReportFile& file, std::string_view text) {
  size_t start = 0;
  for (size_t lf = text.find('\n'); lf != std::string_view::npos; lf = text.find('\n', start)) {
    file.pending.append(text.substr(start, lf - start)).append("\r\n");
    start = lf + 1;
  }
  file.pending.append(text.substr(start));
  if (file.pending.size() >= kPendingLimit) writePending(file);
}

void writeLineEnd(ReportFile& file) { writeText(file, "\n"); }

bool closeReportFile(ReportFile& file) {
  writePending(file);
  if (!platform::closeAtomicFile(&file.output, !file.failed)) file.failed = true;
  return !file.failed;
}
