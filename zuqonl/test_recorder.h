// Records the notifications the library delivers, for the library's tests.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "zuqonl.h"

namespace zuqonl::testing {

// One notification, its texts copied out during the callback.
struct Received {
  int32_t code = 0;
  int32_t conn = 0;
  int32_t rowId = 0;
  int32_t count = 0;
  std::string text;
  std::vector<std::optional<std::string>> values;  // RowNotice: all 28 entries
};

// Collects notifications from the library's thread and flags any that come
// when the library promised none.
struct Recorder {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Received> received;
  // Set once zuqonlClose / zuqonlCloseConnection has returned.
  std::atomic<bool> libraryClosed{false};
  std::atomic<int32_t> closedConn{0};
  std::atomic<int> lateNotifications{0};
  // Runs inside the callback after recording, when set before zuqonlOpen.
  std::function<void(const Received&)> onNotification;

  bool waitFor(const std::function<bool(const std::vector<Received>&)>& done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [&] { return done(received); });
  }
  std::vector<Received> snapshot() {
    std::lock_guard lock(mutex);
    return received;
  }
};

// The recorder recordingCallback writes to; set before zuqonlOpen.
inline Recorder* g_recorder = nullptr;

inline std::string textOf(const char* text) { return text != nullptr ? text : "(null)"; }

inline Received copyNotification(int32_t code, void* data) {
  Received r;
  r.code = code;
  if (code == ZUQONL_NET_INTEGRITY_OK) {
    r.text = textOf(static_cast<TextNotice*>(data)->text);
  } else if (code == ZUQONL_ERROR) {
    r.conn = static_cast<ErrorNotice*>(data)->conn;
    r.text = textOf(static_cast<ErrorNotice*>(data)->text);
  } else if (code == ZUQONL_FORMAT) {
    auto* format = static_cast<FormatNotice*>(data);
    r.conn = format->conn;
    r.count = format->columnsCount;
    r.text = textOf(format->columnsFormat);
  } else if (code >= ZUQONL_ADD_ROW && code <= ZUQONL_DELETE_ROW) {
    auto* row = static_cast<RowNotice*>(data);
    r.conn = row->conn;
    r.rowId = row->rowID;
    for (const char* value : row->values) {
      r.values.push_back(value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
  } else if (code == ZUQONL_CLEAR || code == ZUQONL_SYNCHRONIZED || code == ZUQONL_CONNECTED ||
             code == ZUQONL_DISCONNECTED) {
    r.conn = static_cast<ConnNotice*>(data)->conn;
  }
  return r;
}

inline void ZUQONL_CALL recordingCallback(int32_t code, void* data) {
  Recorder& recorder = *g_recorder;
  Received r = copyNotification(code, data);
  if (recorder.libraryClosed || (r.conn != 0 && r.conn == recorder.closedConn)) {
    ++recorder.lateNotifications;
  }
  {
    std::lock_guard lock(recorder.mutex);
    recorder.received.push_back(r);
  }
  recorder.changed.notify_all();
  if (recorder.onNotification) recorder.onNotification(r);
}

inline auto hasCode(int32_t code, int32_t conn = 0) {
  return [=](const std::vector<Received>& all) {
    for (const Received& r : all) {
      if (r.code == code && r.conn == conn) return true;
    }
    return false;
  };
}

inline auto hasRows(int32_t conn, size_t rows) {
  return [=](const std::vector<Received>& all) {
    size_t seen = 0;
    for (const Received& r : all) seen += r.code == ZUQONL_ADD_ROW && r.conn == conn;
    return seen >= rows;
  };
}

inline std::vector<int32_t> codesOf(const std::vector<Received>& all, int32_t conn) {
  std::vector<int32_t> codes;
  for (const Received& r : all) {
    if (r.conn == conn) codes.push_back(r.code);
  }
  return codes;
}

}  // namespace zuqonl::testing
