// The program's side of a row: its intake (decode, filter, store) and its
// trade line in the report.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_rows.h"
#include "intake/firm_side.h"
#include "intake/trade_columns.h"
#include "intake/trade_intake.h"
#include "online/online_library.h"
#include "report/trade_line.h"
#include "testsupport/temp_dir.h"

namespace {

// The intake converts dates through the library, bound as a run binds it.
const bool kBound = online::bindLibrary("").problem.empty();

// Rows of AddRow notifications over owned texts.
class RowNotices {
 public:
  explicit RowNotices(int count) {
    for (int n = 0; n < count; ++n) texts_.push_back(bench::rowValues(n));
    for (int n = 0; n < count; ++n) {
      RowNotice row{};
      row.conn = 1;
      row.rowID = n + 1;
      for (size_t i = 0; i < texts_[n].size(); ++i) row.values[i] = texts_[n][i].c_str();
      rows_.push_back(row);
    }
  }
  const RowNotice& operator[](size_t n) const { return rows_[n % rows_.size()]; }

 private:
  std::vector<std::vector<std::string>> texts_;
  std::vector<RowNotice> rows_;
};

void BM_IntakePerRow(benchmark::State& state) {
  if (!kBound) state.SkipWithError(online::boundLibrary().problem.c_str());
  const RowNotices rows(1024);
  const TradeSelection selection;  // no firm code: every row is kept
  TradeStore store;
  FilterTally turnedAway;
  size_t n = 0;
  for (auto _ : state) {
    addTradeRow(rows[n], selection, store, turnedAway);
    // A store of a million trades is the common case; keep it near that.
    if (++n % (1 << 20) == 0) store.clear();
  }
}
BENCHMARK(BM_IntakePerRow);

void BM_TradeLinePerTrade(benchmark::State& state) {
  const RowNotices rows(1024);
  std::vector<TradeRecord> records;
  for (size_t n = 0; n < 1024; ++n) {
    uint32_t key = 0;
    records.push_back(decodeTradeFields(rows[n], &key));
    decodeReportedDates(rows[n], &records.back());
  }
  std::string joined[1024];
  std::vector<KeptTrade> lines;
  for (size_t n = 0; n < 1024; ++n) {
    lines.push_back(keepTrade(records[n], firmSide(records[n], ""), &joined[n]));
  }
  const testsupport::TempDir dir("zuq-bench");
  const std::string path = dir / "report.txt";
  ReportFile file(path.c_str());
  if (!file.isOpen()) {
    state.SkipWithError("cannot open the report file");
    return;
  }
  size_t n = 0;
  for (auto _ : state) writeTradeLine(file, lines[n++ % lines.size()], ";", 0);
  file.close();
}
BENCHMARK(BM_TradeLinePerTrade);

// The look through each line written for texts that hold the delimiter or a
// line feed, over trades walked from the store as the report walks them.
void BM_StraySeparatorsPerTrade(benchmark::State& state) {
  const RowNotices rows(1 << 16);
  const TradeSelection selection;
  TradeStore store;
  FilterTally turnedAway;
  for (size_t n = 0; n < (1 << 16); ++n) addTradeRow(rows[n], selection, store, turnedAway);
  std::vector<KeptTrade> lines;
  StraySeparators strayed;
  // The lines' texts live until the walk ends: they are looked through in it.
  store.walk([&](uint32_t, const KeptTrade& line) { lines.push_back(line); },
             [&] {
               size_t n = 0;
               for (auto _ : state) strayed.count(lines[n++ & 0xFFFF], ";");
             });
  benchmark::DoNotOptimize(strayed.trades);
}
BENCHMARK(BM_StraySeparatorsPerTrade);

}  // namespace
