// The library's log: the line the program logs for every row, formatted as
// zuqonlPrintf formats it and written by the notification thread.
#include <benchmark/benchmark.h>

#include <cstdarg>
#include <cstdio>

#include "testsupport/temp_dir.h"
#include "zuqonl/log_format.h"
#include "zuqonl/logging.h"

namespace {

void BM_LogLinePerRow(benchmark::State& state) {
  std::FILE* out = testsupport::openScratchFile();
  if (out == nullptr) {
    state.SkipWithError("no temporary file");
    return;
  }
  {
    zuqonl::Log log(out);
    log.noFile();
    zuqonl::markNotificationThread();
    int32_t rowID = 0;
    char line[1024];
    for (auto _ : state) {
      const int length = std::snprintf(line, sizeof line,
                                       "[ZUQTradeReport] AddRow conn=%d, rowID=%d\n", 1, ++rowID);
      log.write(std::string_view(line, static_cast<size_t>(length)));
    }
  }
  std::fclose(out);
}
BENCHMARK(BM_LogLinePerRow);

// The per-row line formatted by zuqonlPrintf's plain road and by vsnprintf.
int formatSimply(char* out, size_t capacity, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int length = zuqonl::formatSimple(out, capacity, format, args);
  va_end(args);
  return length;
}

void BM_LogLineFormat(benchmark::State& state) {
  const bool simple = state.range(0) != 0;
  int32_t rowID = 0;
  char line[1024];
  for (auto _ : state) {
    ++rowID;
    const int length = simple
                           ? formatSimply(line, sizeof line,
                                          "[ZUQTradeReport] AddRow conn=%d, rowID=%d\n", 1, rowID)
                           : std::snprintf(line, sizeof line,
                                           "[ZUQTradeReport] AddRow conn=%d, rowID=%d\n", 1, rowID);
    benchmark::DoNotOptimize(length);
    benchmark::DoNotOptimize(line);
  }
}
BENCHMARK(BM_LogLineFormat)->ArgName("simple")->Arg(0)->Arg(1);

}  // namespace
