// What the link to the data server did, and what the library last reported
// as an Error, for the closing line of a run whose table never came whole.
#pragma once

#include <string>

#include "platform/local_time.h"
#include "platform/mutex.h"
#include "platform/thread_annotations.h"

// The two states the library reports: the network link (NetIntegrityOk /
// NetIntegrityLost) and the data server's session (DS Connected / DS
// Disconnected). Either one lost is the link lost; both back, it is back.
enum class LinkPart { Network, DataServer };

// Written by the notification callback, read by the driver once the library
// is closed (any thread, under its own lock).
class LinkRecord {
 public:
  void lost(LinkPart part) EXCLUDES(mutex_);
  void back(LinkPart part) EXCLUDES(mutex_);
  // An Error notification's text, control bytes already escaped; the last
  // one is kept, at most kErrorBytes of it.
  void error(const std::string& text) EXCLUDES(mutex_);

  // What to add to "the table was not synchronized within N s": empty when
  // the link was never lost and no Error came, else clauses such as "; the
  // link to the data server was lost at 12:03:04 and not back" and "; last
  // Error from the library: 'TEXT'".
  std::string closingClauses() EXCLUDES(mutex_);

  static constexpr size_t kErrorBytes = 200;

 private:
  void changedLocked(bool wasLost) REQUIRES(mutex_);

  platform::Mutex mutex_;
  bool networkLost_ GUARDED_BY(mutex_) = false;
  bool dataServerLost_ GUARDED_BY(mutex_) = false;
  bool everLost_ GUARDED_BY(mutex_) = false;
  platform::LocalTime lostAt_ GUARDED_BY(mutex_){};  // the last loss
  platform::LocalTime backAt_ GUARDED_BY(mutex_){};  // the return after it
  std::string lastError_ GUARDED_BY(mutex_);
};
