// Stop requests on POSIX: SIGINT and SIGTERM, through Asio's signal_set.
#include <signal.h>

#include "zuqds/stop_request.h"

namespace zuqds {

struct StopRequests::State {
  explicit State(asio::io_context& io) : signals(io, SIGINT, SIGTERM) {}
  asio::signal_set signals;
};

StopRequests::StopRequests(asio::io_context& io,
                           std::function<void(const std::string& what)> onStop)
    : state_(std::make_unique<State>(io)) {
  state_->signals.async_wait(
      [onStop = std::move(onStop)](const asio::error_code& error, int number) {
        if (!error) onStop("signal " + std::to_string(number));
      });
}

StopRequests::~StopRequests() = default;

}  // namespace zuqds
