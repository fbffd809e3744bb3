#include "run/run_driver.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <string>

#include "intake/notification_dispatch.h"
#include "intake/trade_columns.h"
#include "online/online_library.h"
#include "platform/event.h"
#include "platform/paths.h"
#include "platform/physical_memory.h"
#include "platform/profile.h"
#include "platform/regular_file.h"
#include "report/trade_report.h"
#include "run/run_context.h"
#include "run/run_warnings.h"
#include "run/settings_check.h"

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
  settings.selection.firmCode = readText("trade_participant", iniPath);
  settings.selection.tradeStatus = readInt("trade_status", 0, iniPath);
  settings.selection.repoTradeStatus = readInt("repotrade_status", 0, iniPath);
  settings.logRows = readInt("log_rows", 1, iniPath);
  const int32_t maxStore = readInt("max_store_mb", 0, iniPath);
  settings.maxStoreMiB = maxStore > 0
                             ? static_cast<uint32_t>(maxStore)
                             : defaultStoreLimitMiB(platform::physicalMemoryBytes(), sizeof(void*));
}

// How the run ended, for its closing line.
struct RunEnd {
  int status = kExitNoDataServer;
  std::string failure;   // why there is no report, in a few words
  ReportOutcome report;  // when the report writer ran
};

// Whether a report from an earlier run stands at the report path: a regular
// file, which a failed run leaves as it was.
bool earlierReportStands(const char* iniPath) {
  const std::string path = readReportOptions(iniPath).reportFile;
  if (path.empty() || platform::sameFile(path, iniPath)) return false;
  for (const std::string& table : libraryTableFiles(iniPath)) {
    if (platform::sameFile(path, table)) return false;
  }
  int error = 0;
  std::FILE* file = platform::openRegularFile(path.c_str(), &error);
  if (file != nullptr) std::fclose(file);
  return file != nullptr || error == EACCES;
}

// The run's last line: what it did, or why it wrote no report, with the
// exit status, so that an operator can grep it and a scheduler mail it.
void logRunEnd(const char* iniPath, const RunEnd& end, RunContext& run,
               std::chrono::steady_clock::time_point started) {
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  if (end.status == kExitReportComplete) {
    zuqonlPrintf(
        "[ZUQTradeReport] Report complete: '%s', %u trades written (%u rows received, "
        "%u kept), %.2f s%s\n",
        end.report.absolutePath.c_str(), static_cast<unsigned>(end.report.tradeLines),
        static_cast<unsigned>(run.rowsReceived.load()), static_cast<unsigned>(run.store.added()),
        took.count(), warningCountText(run.warningsLogged).c_str());
    return;
  }
  std::string reason = end.failure;
  if (earlierReportStands(iniPath)) reason += "; previous report kept";
  zuqonlPrintf("[ZUQTradeReport] No report: %s, exit status %d\n", reason.c_str(), end.status);
}

// Waits for the table to be delivered in full and writes the report.
RunEnd receiveAndReport(const char* iniPath, RunContext& run) {
  run.ready.awaitSynchronization();
  const RunSettings& settings = run.settings;
  run.store.setLimit(uint64_t{settings.maxStoreMiB} * 1024 * 1024);
  const int32_t conn = zuqonlOpenConnection(1, "Trade", kTradeColumnList, "issue_name",
                                            settings.issue.c_str(), settings.issue.c_str(), 0);
  RunEnd end;
  end.status = kExitNotSynchronized;
  switch (run.ready.wait(waitMilliseconds(settings.syncTimeout, 10000))) {
    case platform::kWaitSignalled:
      // Trades lost to a lack of memory have been logged by the intake: the
      // table was not received whole, so there is nothing true to report.
      if (run.tradesLost.load()) {
        end.failure = run.overStoreLimit.load() ? "the kept trades exceed max_store_mb"
                                                : "the kept trades did not fit in memory";
        break;
      }
      // A report that will be empty says why, before it is written.
      for (const std::string& warning : emptyReportWarnings(
               run.turnedAwayAtSynchronization, settings.selection, run.store.added())) {
        logRunWarning(run, warning);
      }
      // A report rewritten in place that another run is writing is waited
      // for as long as the data server is.
      end.report = writeTradeReport(iniPath, run.store, libraryTableFiles(iniPath),
                                    waitMilliseconds(settings.syncTimeout, 1000));
      for (const std::string& warning : end.report.warnings) logRunWarning(run, warning);
      end.status = end.report ? kExitReportComplete : kExitReportNotWritten;
      end.failure = end.report.failure;
      break;
    case platform::kWaitTimeout:
      zuqonlPrintf("[ZUQTradeReport] Can't receive records: timeout expired (%d sec)\n",
                   settings.syncTimeout);
      end.failure = "the table was not synchronized within " +
                    std::to_string(waitMilliseconds(settings.syncTimeout, 10000) / 1000) + " s";
      break;
    default:
      zuqonlPrintf("[ZUQTradeReport] Error in WaitForSingleObject\n");
      end.failure = "the wait for the table failed";
      break;
  }
  zuqonlCloseConnection(conn);
  return end;
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
  const auto started = std::chrono::steady_clock::now();
  zuqonlPrintf("ZUQ KALDO Online. ZUQTradeReport v1.0\n");
  zuqonlPrintf("Copyright (C) ZUQ KALDO. All rights reserved.\n");
  zuqonlPrintf("[ZUQTradeReport] Using ini path: '%s'\n", iniPath);
  RunContext run;
  for (const std::string& warning : configurationWarnings(iniPath)) logRunWarning(run, warning);
  attachRunContext(&run);

  zuqonlSetIniPath(iniPath);
  zuqonlIdentify("", "", "");
  zuqonlRegisterCallback(onlineCallback);
  zuqonlOpen();

  RunSettings& settings = run.settings;
  settings.syncTimeout = readInt("sync_timeout", 10, iniPath);
  RunEnd end;
  switch (run.ready.wait(waitMilliseconds(settings.syncTimeout, 1000))) {
    case platform::kWaitSignalled:
      readSelection(iniPath, settings);
      zuqonlPrintf("[ZUQTradeReport] Creating trade report for firm '%s', status %d\n",
                   settings.selection.firmCode.c_str(), settings.selection.tradeStatus);
      end = receiveAndReport(iniPath, run);
      break;
    case platform::kWaitTimeout:
      zuqonlPrintf("[ZUQTradeReport] Can't connect to DS: timeout expired (%d sec)\n",
                   settings.syncTimeout);
      end.failure = "the data server was not reached within " +
                    std::to_string(waitMilliseconds(settings.syncTimeout, 1000) / 1000) + " s";
      break;
    default:
      zuqonlPrintf("[ZUQTradeReport] Error in WaitForSingleObject\n");
      end.failure = "the wait for the data server failed";
      break;
  }

  zuqonlClose();
  // After the library is closed no notification can follow it.
  logRunEnd(iniPath, end, run, started);
  attachRunContext(nullptr);
  return end.status;  // the run's event and store go with `run`
}
