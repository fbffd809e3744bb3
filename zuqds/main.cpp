// zuqds: the network data server of the test bed. Serves table files over
// the protocol of docs/protocol.md until an operator stops it (SIGINT,
// SIGTERM; Ctrl+C, Ctrl+Break on Windows).
#include <asio.hpp>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <string>

#include "dataserver/data_dir.h"
#include "platform/write_signals.h"
#include "zuqds/log.h"
#include "zuqds/open_files.h"
#include "zuqds/options.h"
#include "zuqds/server.h"
#include "zuqds/stop_request.h"

namespace {

// Brings the client limit within what the open-file limit, raised as far as
// allowed, can serve.
void fitClientsToOpenFiles(zuqds::Limits* limits) {
  const size_t openFiles = zuqds::raiseOpenFileLimit();
  const size_t clients = zuqds::clientsForOpenFiles(openFiles, limits->maxSubscriptions);
  if (limits->maxClients <= clients) return;
  zuqds::logLine("at most " + std::to_string(clients) +
                 " clients: " + zuqds::openFileLimitText(openFiles) +
                 ", and each client may hold " + std::to_string(1 + limits->maxSubscriptions) +
                 " files (its link and one per subscription)");
  limits->maxClients = clients;
}

// Exit status: 0 after a stop request, 1 when the server cannot start.
int serve(zuqds::Options options) {
  std::string err;
  if (!dataserver::checkDataDir("data folder", options.dataDir, &err)) {
    std::cerr << "zuqds: " << err << "\n";
    return 1;
  }
  zuqds::startLogging();
  fitClientsToOpenFiles(&options.limits);
  asio::io_context io;
  zuqds::Server server(io, options.dataDir, options.limits);
  if (!server.listen(options.host, options.port, &err)) {
    std::cerr << "zuqds: " << err << "\n";
    return 1;
  }
  zuqds::StopRequests stopRequests(io, [&server](const std::string& what) {
    zuqds::logLine("stopping on " + what);
    server.stop();
  });
  zuqds::logLine("listening on " + server.endpoint());
  io.run();
  zuqds::logLine("stopped");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  // A client gone while being written to is a write error, not a signal;
  // so is a closed stdout, or a log file past the file-size limit.
  platform::ignoreWriteSignals();
  if (argc > 1 && (std::string(argv[1]) == "-h" || std::string(argv[1]) == "--help")) {
    std::cout << zuqds::kUsage;
    return 0;
  }
  if (argc > 1 && std::string(argv[1]) == "--version") {
    std::cout << "zuqds " << ZUQ_VERSION << "\n";
    return 0;
  }
  zuqds::Options options;
  std::string err;
  if (!zuqds::parseOptions(argc, argv, &options, &err)) {
    std::cerr << "zuqds: " << err << "\n" << zuqds::kUsage;
    return 2;
  }
  const int status = serve(options);
  // A stdout that takes nothing more keeps the last lines: the server ends
  // all the same.
  if (!zuqds::finishLogging(std::chrono::seconds(2))) std::_Exit(status);
  return status;
}
