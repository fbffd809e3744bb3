// The data server's side: a table file parsed into row events, and row
// events decoded from the wire.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "bench_rows.h"
#include "dataserver/csv_reader.h"
#include "dataserver/protocol.h"
#include "dataserver/table_stream.h"
#include "testsupport/temp_dir.h"

namespace {

using namespace dataserver;

constexpr int kRows = 20000;

// A folder holding Trade.csv of kRows rows, removed with it.
class TableFolder {
 public:
  TableFolder() : dir_("zuq-bench") {
    std::string table = std::string(bench::kColumns) + "\r\n";
    for (int n = 0; n < kRows; ++n) table += bench::csvRow(n);
    dir_.write("Trade.csv", table);
    bytes_ = static_cast<int64_t>(table.size());
  }
  std::string path() const { return dir_.dir(); }
  int64_t bytes() const { return bytes_; }

 private:
  testsupport::TempDir dir_;
  int64_t bytes_ = 0;
};

Subscription tradeSubscription() {
  return Subscription{"Trade", bench::kColumns, "issue_name", "BOND-2031", "BOND-2031"};
}

void BM_TableParsing(benchmark::State& state) {
  const TableFolder folder;
  TableEvent event;
  std::vector<std::string_view> values;
  int64_t rows = 0;
  for (auto _ : state) {
    TableStream stream;
    std::string err;
    if (!stream.open(folder.path(), tradeSubscription(), &err)) {
      state.SkipWithError(err.c_str());
      return;
    }
    for (stream.next(&event, &values); event.kind == EventKind::AddRow;
         stream.next(&event, &values)) {
      ++rows;
    }
  }
  state.SetBytesProcessed(state.iterations() * folder.bytes());
  state.counters["rows"] =
      benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TableParsing)->Unit(benchmark::kMillisecond);

// The CSV reader alone, under the table engine's work on each row.
void BM_CsvReading(benchmark::State& state) {
  const TableFolder folder;
  const std::string path = folder.path() + "/Trade.csv";
  int64_t fields = 0;
  for (auto _ : state) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
      state.SkipWithError("cannot open the table file");
      return;
    }
    CsvReader reader(file, "Trade.csv", CsvLimits{64 * 1024, 1024 * 1024, 4 * 1024 * 1024, 1024});
    bool haveRecord = false;
    std::string err;
    while (reader.read(&haveRecord, &err) && haveRecord) {
      fields += static_cast<int64_t>(reader.fields().size());
    }
    std::fclose(file);
  }
  benchmark::DoNotOptimize(fields);
  state.SetBytesProcessed(state.iterations() * folder.bytes());
}
BENCHMARK(BM_CsvReading)->Unit(benchmark::kMillisecond);

// The row events of kRows rows, framed as a server sends them.
std::string rowFrames() {
  std::string frames;
  std::string err;
  TableEvent event;
  event.kind = EventKind::AddRow;
  for (int n = 0; n < kRows; ++n) {
    event.rowId = n + 1;
    event.values = bench::rowValues(n);
    protocol::encodeEvent(1, event, &frames, &err);
  }
  return frames;
}

// Decodes the frames fed in pieces the size of a socket read, as the client
// receives them; with `views`, an event's values as views into the decoder.
void decodeFrames(benchmark::State& state, bool views) {
  const std::string frames = rowFrames();
  std::string err;
  protocol::Message message;
  std::vector<std::string_view> values;
  for (auto _ : state) {
    protocol::Decoder decoder(protocol::Sender::Server);
    constexpr size_t kPiece = 64 * 1024;
    for (size_t at = 0; at < frames.size(); at += kPiece) {
      decoder.feed(frames.data() + at, std::min(kPiece, frames.size() - at));
      while ((views ? decoder.next(&message, &values, &err) : decoder.next(&message, &err)) ==
             protocol::Decoder::Result::Message) {
        benchmark::DoNotOptimize(message);
        benchmark::DoNotOptimize(values);
      }
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frames.size()));
}

void BM_ProtocolDecoding(benchmark::State& state) { decodeFrames(state, false); }
BENCHMARK(BM_ProtocolDecoding)->Unit(benchmark::kMillisecond);

void BM_ProtocolDecodingViews(benchmark::State& state) { decodeFrames(state, true); }
BENCHMARK(BM_ProtocolDecodingViews)->Unit(benchmark::kMillisecond);

// A server's road: the table parsed and each row framed from views into its
// read buffer, the frames sent (dropped) in pieces of a server's write bound.
void BM_TableServing(benchmark::State& state) {
  const TableFolder folder;
  TableEvent event;
  std::vector<std::string_view> values;
  std::string frames;
  std::string err;
  for (auto _ : state) {
    TableStream stream;
    if (!stream.open(folder.path(), tradeSubscription(), &err)) {
      state.SkipWithError(err.c_str());
      return;
    }
    for (stream.next(&event, &values); event.kind == EventKind::AddRow;
         stream.next(&event, &values)) {
      protocol::encodeEvent(1, event, values, &frames, &err);
      if (frames.size() >= 256 * 1024) {
        benchmark::DoNotOptimize(frames.data());
        frames.clear();
      }
    }
  }
  state.SetBytesProcessed(state.iterations() * folder.bytes());
}
BENCHMARK(BM_TableServing)->Unit(benchmark::kMillisecond);

}  // namespace
