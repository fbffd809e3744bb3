// Serves arbitrary bytes as a table file through a TableStream until its End:
// the CSV reader and the engine must neither crash nor loop, and a stream
// ends within a number of events bounded by the file's size.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "dataserver/table_stream.h"
#include "testsupport/temp_dir.h"

namespace {

// The data folder the inputs are written to, removed when the fuzzer exits.
const testsupport::TempDir& dataFolder() {
  static const testsupport::TempDir folder("zuq-fuzz");
  return folder;
}

// Subscriptions that reach the engine's paths: plain, a key range, requested
// columns that the file lacks or that steer the server, and none.
const dataserver::Subscription kSubscriptions[] = {
    {"t", "a,b,c", "", "", ""},
    {"t", "b,@rowid,a,a", "a", "b", "m"},
    {"t", "", "@op", "", "z"},
    {"t", "x,,c", "c", "", ""},
};

}  // namespace

// First byte: the subscription; the rest: the file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto& subscription = kSubscriptions[data[0] % std::size(kSubscriptions)];
  const std::string path = dataFolder() / "t.csv";
  FILE* file = fopen(path.c_str(), "wb");
  if (file == nullptr) abort();
  if (size > 1 && fwrite(data + 1, 1, size - 1, file) != size - 1) abort();
  fclose(file);

  dataserver::TableStream stream;
  std::string err;
  if (!stream.open(dataFolder().dir(), subscription, &err)) abort();  // the file is there
  dataserver::TableEvent event;
  std::vector<std::string_view> values;
  // At most one event per byte (a record takes at least one), plus the
  // Synchronized and End that close a stream, plus a fault's Error, plus the
  // looks for the line end of a file that ends inside a line (it does not
  // grow here, so the stream gives up after those).
  const size_t bound = size + 3 + dataserver::kLineEndPolls + 1;
  for (size_t events = 0; events <= bound; ++events) {
    stream.next(&event, &values);
    if (event.kind == dataserver::EventKind::End) {
      stream.next(&event, &values);
      if (event.kind != dataserver::EventKind::End) abort();  // End repeats
      return 0;
    }
  }
  abort();
}
