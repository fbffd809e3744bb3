#include "intake/link_record.h"

#include <cstdio>

namespace {

std::string clockTime(const platform::LocalTime& time) {
  char text[24];
  std::snprintf(text, sizeof text, "%02u:%02u:%02u", static_cast<unsigned>(time.hour),
                static_cast<unsigned>(time.minute), static_cast<unsigned>(time.second));
  return text;
}

}  // namespace

void LinkRecord::lost(LinkPart part) {
  platform::MutexLock lock(mutex_);
  const bool wasLost = networkLost_ || dataServerLost_;
  (part == LinkPart::Network ? networkLost_ : dataServerLost_) = true;
  changedLocked(wasLost);
}

void LinkRecord::back(LinkPart part) {
  platform::MutexLock lock(mutex_);
  const bool wasLost = networkLost_ || dataServerLost_;
  (part == LinkPart::Network ? networkLost_ : dataServerLost_) = false;
  changedLocked(wasLost);
}

void LinkRecord::changedLocked(bool wasLost) {
  const bool isLost = networkLost_ || dataServerLost_;
  if (isLost == wasLost) return;
  if (isLost) {
    everLost_ = true;
    lostAt_ = platform::localTime();
  } else {
    backAt_ = platform::localTime();
  }
}

void LinkRecord::error(const std::string& text) {
  platform::MutexLock lock(mutex_);
  lastError_ = text.size() <= kErrorBytes ? text : text.substr(0, kErrorBytes) + "...";
}

std::string LinkRecord::closingClauses() {
  platform::MutexLock lock(mutex_);
  std::string clauses;
  if (everLost_) {
    clauses += "; the link to the data server was lost at " + clockTime(lostAt_);
    clauses +=
        networkLost_ || dataServerLost_ ? " and not back" : " and back at " + clockTime(backAt_);
  }
  if (!lastError_.empty()) clauses += "; last Error from the library: '" + lastError_ + "'";
  return clauses;
}
