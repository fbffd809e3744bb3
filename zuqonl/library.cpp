// The library's C entry points: argument translation over the process-wide
// library state. Nothing throws across this boundary.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "backend.h"
#include "date_time.h"
#include "log_format.h"
#include "logging.h"
#include "notification_thread.h"
#include "platform/mutex.h"
#include "settings.h"
#include "zuqonl.h"

namespace zuqonl {
namespace {

struct LibraryState {
  platform::Mutex mutex;
  std::string iniPath GUARDED_BY(mutex);
  ZuqonlCallback callback GUARDED_BY(mutex) = nullptr;
  std::shared_ptr<NotificationThread> thread GUARDED_BY(mutex);  // null while closed
  // Threads that zuqonlClose stopped from inside their own callback, where
  // they cannot be joined; the next zuqonlOpen or zuqonlClose joins them.
  std::vector<std::shared_ptr<NotificationThread>> retired GUARDED_BY(mutex);
  // Serialises zuqonlClose calls, so that none returns while another still
  // joins the thread.
  platform::Mutex closing;
};

// Never destroyed: a notification thread the program left running may still
// reach it while the process exits.
LibraryState& state() {
  static auto* instance = new LibraryState;
  return *instance;
}

std::string textOrEmpty(const char* text) { return text != nullptr ? text : ""; }

std::shared_ptr<NotificationThread> currentThread() {
  LibraryState& library = state();
  platform::MutexLock lock(library.mutex);
  return library.thread;
}

// Joins the retired threads, except the calling one.
void joinRetired() {
  std::vector<std::shared_ptr<NotificationThread>> joinable;
  {
    LibraryState& library = state();
    platform::MutexLock lock(library.mutex);
    auto& retired = library.retired;
    auto others = std::partition(retired.begin(), retired.end(),
                                 [](const auto& thread) { return thread->onThisThread(); });
    joinable.assign(std::make_move_iterator(others), std::make_move_iterator(retired.end()));
    retired.erase(others, retired.end());
  }
  for (const auto& thread : joinable) thread->stop();
}

// Runs `body`, turning any exception into `failure`: nothing throws across
// the C boundary.
template <typename Body>
int guarded(int failure, Body&& body) {
  try {
    return body();
  } catch (...) {
    return failure;
  }
}

void openLogFile(const std::string& iniPath) {
  Settings settings = readSettings(iniPath);
  if (settings.logFile.empty()) {
    processLog().noFile();
    return;
  }
  std::string err;
  if (!processLog().openFile(settings.logFile, &err)) processLog().write("[zuqonl] " + err + "\n");
}

int setIniPath(const std::string& iniPath) {
  {
    LibraryState& library = state();
    platform::MutexLock lock(library.mutex);
    library.iniPath = iniPath;
  }
  openLogFile(iniPath);
  for (const std::string& warning : settingsWarnings(iniPath)) processLog().write(warning);
  return 1;
}

int openLibrary() {
  joinRetired();
  LibraryState& library = state();
  platform::MutexLock lock(library.mutex);
  if (library.thread != nullptr) return 0;
  std::string err;
  std::unique_ptr<Backend> backend = makeBackend(readSettings(library.iniPath), &err);
  if (backend == nullptr) processLog().write("[zuqonl] " + err + "\n");
  library.thread = std::make_shared<NotificationThread>(library.callback, std::move(backend));
  return 1;
}

// zuqonlClose inside a callback: the thread cannot join itself, so it is
// only told to stop (no callback starts after that) and kept for the next
// zuqonlOpen or zuqonlClose to join.
void stopFromCallback() {
  LibraryState& library = state();
  platform::MutexLock lock(library.mutex);
  // A null thread means another zuqonlClose took it, and told it to stop
  // before letting go of the lock.
  if (library.thread == nullptr) return;
  library.thread->requestStop();
  library.retired.push_back(std::move(library.thread));
}

int closeLibrary() {
  if (isNotificationThread()) {
    stopFromCallback();
    return 1;
  }
  LibraryState& library = state();
  platform::MutexLock closing(library.closing);
  std::shared_ptr<NotificationThread> thread;
  {
    platform::MutexLock lock(library.mutex);
    thread = std::move(library.thread);
    if (thread != nullptr) thread->requestStop();
  }
  if (thread != nullptr) thread->stop();
  joinRetired();
  processLog().flush();
  return 1;
}

// Formats into a stack buffer, or a heap one for longer texts (`retry` is a
// copy of `args` for the second pass), and logs the text. Returns its length;
// negative (nothing logged) when formatting fails. The common plain formats
// take a quicker road to the same text.
int formatAndLog(const char* format, va_list args, va_list retry) {
  char stackBuffer[1024];
  va_list simpleArgs;
  va_copy(simpleArgs, args);
  int length = formatSimple(stackBuffer, sizeof stackBuffer, format, simpleArgs);
  va_end(simpleArgs);
  if (length < 0) length = std::vsnprintf(stackBuffer, sizeof stackBuffer, format, args);
  if (length < 0) return length;
  if (static_cast<size_t>(length) < sizeof stackBuffer) {
    processLog().write(std::string_view(stackBuffer, static_cast<size_t>(length)));
    return length;
  }
  std::vector<char> heapBuffer(static_cast<size_t>(length) + 1);
  length = std::vsnprintf(heapBuffer.data(), heapBuffer.size(), format, retry);
  if (length >= 0) processLog().write(std::string_view(heapBuffer.data(), heapBuffer.size() - 1));
  return length;
}

}  // namespace
}  // namespace zuqonl

using namespace zuqonl;

extern "C" {

// Returns 1.
int ZUQONL_CALL zuqonlSetIniPath(const char* iniPath) {
  return guarded(0, [&] { return setIniPath(textOrEmpty(iniPath)); });
}

// The texts are not kept. Returns 1.
int ZUQONL_CALL zuqonlIdentify(const char*, const char*, const char*) { return 1; }

// Taken by the next zuqonlOpen. Returns 1.
int ZUQONL_CALL zuqonlRegisterCallback(ZuqonlCallback callback) {
  LibraryState& library = state();
  platform::MutexLock lock(library.mutex);
  library.callback = callback;
  return 1;
}

// Returns 1; 0 when already open.
int ZUQONL_CALL zuqonlOpen(void) { return guarded(0, openLibrary); }

// `kind` and `flags` are accepted as they come: the library knows one kind of
// subscription. Returns 0 while the library is not open.
int ZUQONL_CALL zuqonlOpenConnection(int32_t, const char* table, const char* columns,
                                     const char* keyColumn, const char* from, const char* to,
                                     int32_t) {
  return guarded(0, [&] {
    std::shared_ptr<NotificationThread> thread = currentThread();
    if (thread == nullptr) return 0;
    return thread->openConnection(dataserver::Subscription{textOrEmpty(table), textOrEmpty(columns),
                                                           textOrEmpty(keyColumn),
                                                           textOrEmpty(from), textOrEmpty(to)});
  });
}

// Returns 1; 0 for a handle that is not open.
int ZUQONL_CALL zuqonlCloseConnection(int32_t conn) {
  return guarded(0, [&] {
    std::shared_ptr<NotificationThread> thread = currentThread();
    return thread != nullptr && thread->closeConnection(conn) ? 1 : 0;
  });
}

// Returns 1, also when the library was not open.
int ZUQONL_CALL zuqonlClose(void) { return guarded(0, closeLibrary); }

// Returns the number of bytes written, negative when the format fails.
int zuqonlPrintf(const char* format, ...) {
  if (format == nullptr) return -1;
  va_list args;
  va_list retry;
  va_start(args, format);
  va_copy(retry, args);
  int length = guarded(-1, [&] { return formatAndLog(format, args, retry); });
  va_end(retry);
  va_end(args);
  return length;
}

int ZUQONL_CALL zuqonlStringToDateTime(const char* text, DateTimeValue* value) {
  return text != nullptr && parseDateTime(text, value) ? 1 : 0;
}

}  // extern "C"
