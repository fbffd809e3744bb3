// How an operator stops zuqds: SIGINT or SIGTERM on POSIX; Ctrl+C or
// Ctrl+Break on Windows, or, for a server started without a console (by a
// test or a service tool), the event "Local\zuq-stop-<pid>" set.
#pragma once

#include <asio.hpp>
#include <functional>
#include <memory>
#include <string>

namespace zuqds {

// Watches for stop requests while it lives. The first one calls `onStop`
// on `io`'s thread with what asked ("signal 15", "Ctrl+Break", ...); later
// ones are ignored. `io` must outlive the object.
class StopRequests {
 public:
  StopRequests(asio::io_context& io, std::function<void(const std::string& what)> onStop);
  ~StopRequests();
  StopRequests(const StopRequests&) = delete;
  StopRequests& operator=(const StopRequests&) = delete;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zuqds
