// The library's log: the line the program logs for every row, formatted as
// zuqonlPrintf formats it and written by the notification thread.
#include <benchmark/benchmark.h>

#include <cstdio>

#include "zuqonl/logging.h"

namespace {

void BM_LogLinePerRow(benchmark::State& state) {
  std::FILE* out = std::tmpfile();
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

}  // namespace
