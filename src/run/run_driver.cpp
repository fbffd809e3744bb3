#include "run/run_driver.h"

#include <cinttypes>
#include <string>

#include "intake/notification_dispatch.h"
#include "intake/trade_columns.h"
#include "online/online_library.h"
#include "platform/event.h"
#include "platform/physical_memory.h"
#include "platform/profile.h"
#include "report/trade_report.h"
#include "run/run_context.h"

namespace {

constexpr char kOptions[] = "options";

std::string readText(const char* key, const char* iniPath) {
  char buffer[256];
  platform::getProfileString(kOptions, key, "", buffer, sizeof buffer, iniPath);
  return buffer;
}

int32_t readInt(const char* key, int32_t defaultValue, const char* iniPath) {
  return static_cast<int32_t>(platform::getProfileInt(kOptions, key, defaultValue, iniPath));
}

void readSelection(const char* iniPath, RunSettings& settings) {
  settings.issue = readText("trade_issue", iniPath);
  settings.firmCode = readText("trade_participant", iniPath);
  settings.tradeStatus = readInt("trade_status", 0, iniPath);
  settings.repoTradeStatus = readInt("repotrade_status", 0, iniPath);
  const int32_t maxStore = readInt("max_store_mb", 0, iniPath);
  settings.maxStoreMiB = maxStore > 0
                             ? static_cast<uint32_t>(maxStore)
                             : defaultStoreLimitMiB(platform::physicalMemoryBytes(), sizeof(void*));
}

// Waits for the table to be delivered in full and writes the report.
int receiveAndReport(const char* iniPath, RunContext& run) {
  run.ready.awaitSynchronization();
  const RunSettings& settings = run.settings;
  run.store.setLimit(uint64_t{settings.maxStoreMiB} * 1024 * 1024);
  const int32_t conn = zuqonlOpenConnection(1, "Trade", kTradeColumnList, "issue_name",
                                            settings.issue.c_str(), settings.issue.c_str(), 0);
  int status = kExitNotSynchronized;
  switch (run.ready.wait(waitMilliseconds(settings.syncTimeout, 10000))) {
    case platform::kWaitSignalled:
      // Trades lost to a lack of memory have been logged by the intake: the
      // table was not received whole, so there is nothing true to report.
      if (run.tradesLost.load()) break;
      // A report rewritten in place that another run is writing is waited
      // for as long as the data server is.
      status = writeTradeReport(iniPath, run.store, waitMilliseconds(settings.syncTimeout, 1000))
                   ? kExitReportComplete
                   : kExitReportNotWritten;
      break;
    case platform::kWaitTimeout:
      zuqonlPrintf("[ZUQTradeReport] Can't receive records: timeout expired (%d sec)\n",
                   settings.syncTimeout);
      break;
    default:
      zuqonlPrintf("[ZUQTradeReport] Error in WaitForSingleObject\n");
      break;
  }
  zuqonlCloseConnection(conn);
  return status;
}

}  // namespace

uint32_t waitMilliseconds(int32_t seconds, uint32_t perSecond) {
  if (seconds <= 0) return 0;
  const uint64_t wanted = static_cast<uint64_t>(seconds) * perSecond;
  const uint64_t longest = platform::kInfinite - 1;
  return static_cast<uint32_t>(wanted < longest ? wanted : longest);
}

uint32_t defaultStoreLimitMiB(uint64_t physicalBytes, size_t pointerBytes) {
  constexpr uint64_t kMiB = 1024 * 1024;
  // Without a figure for the machine: as much as a large day takes.
  uint64_t limit = physicalBytes == 0 ? 4096 : physicalBytes / 2 / kMiB;
  if (pointerBytes <= 4 && limit > 3072) limit = 3072;
  if (limit < 64) limit = 64;
  return static_cast<uint32_t>(limit < UINT32_MAX ? limit : UINT32_MAX);
}

int runTradeReport(const char* iniPath) {
  zuqonlPrintf("ZUQ KALDO Online. ZUQTradeReport v1.0\n");
  zuqonlPrintf("Copyright (C) ZUQ KALDO. All rights reserved.\n");
  zuqonlPrintf("[ZUQTradeReport] Using ini path: '%s'\n", iniPath);
  RunContext run;
  attachRunContext(&run);

  zuqonlSetIniPath(iniPath);
  zuqonlIdentify("", "", "");
  zuqonlRegisterCallback(onlineCallback);
  zuqonlOpen();

  RunSettings& settings = run.settings;
  settings.syncTimeout = readInt("sync_timeout", 10, iniPath);
  int status = kExitNoDataServer;
  switch (run.ready.wait(waitMilliseconds(settings.syncTimeout, 1000))) {
    case platform::kWaitSignalled:
      readSelection(iniPath, settings);
      zuqonlPrintf("[ZUQTradeReport] Creating trade report for firm '%s', status %d\n",
                   settings.firmCode.c_str(), settings.tradeStatus);
      status = receiveAndReport(iniPath, run);
      break;
    case platform::kWaitTimeout:
      zuqonlPrintf("[ZUQTradeReport] Can't connect to DS: timeout expired (%d sec)\n",
                   settings.syncTimeout);
      break;
    default:
      zuqonlPrintf("[ZUQTradeReport] Error in WaitForSingleObject\n");
      break;
  }

  zuqonlClose();
  attachRunContext(nullptr);
  return status;  // the run's event and store go with `run`
}
