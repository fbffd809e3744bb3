#include "run/run_driver.h"

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <vector>

#include "intake/notification_dispatch.h"
#include "intake/trade_columns.h"
#include "online/online_library.h"
#include "platform/event.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/regular_file.h"
#include "platform/stop_request.h"
#include "report/trade_report.h"
#include "run/option_keys.h"
#include "run/run_context.h"
#include "run/run_warnings.h"
#include "run/settings_check.h"

namespace {

// What a wait of the driver gives when a stop request released it (or came
// during it): the run then goes straight to its end.
constexpr uint32_t kWaitStopped = platform::kWaitFailed - 1;

uint32_t waitUnlessStopped(ReadyEvent& ready, uint32_t milliseconds) {
  const uint32_t result = ready.wait(milliseconds);
  return platform::stopRequest() ? kWaitStopped : result;
}

// How the run ended, for its closing line.
struct RunEnd {
  int status = kExitNoDataServer;
  std::string failure;   // why there is no report, in a few words
  ReportOutcome report;  // when the report writer ran
};

// What stands at the report path, for the closing line of a run without a
// report: a report of an earlier run (a regular file, which a failed run
// leaves as it was), nothing, or something that is no report (the run's own
// input, a device, a pipe), of which the line says nothing.
enum class AtReportPath { EarlierReport, Nothing, Other };

AtReportPath whatStandsAtReportPath(const char* iniPath) {
  const platform::Profile profile = platform::Profile::read(iniPath);
  const std::string path = readOptions(profile).report.reportFile;
  if (path.empty()) return AtReportPath::Nothing;
  if (platform::sameFile(path, iniPath)) return AtReportPath::Other;
  for (const std::string& table : libraryTableFiles(profile, iniPath)) {
    if (platform::sameFile(path, table)) return AtReportPath::Other;
  }
  int error = 0;
  std::FILE* file = platform::openRegularFile(path.c_str(), &error);
  if (file != nullptr) std::fclose(file);
  if (file != nullptr || error == EACCES) return AtReportPath::EarlierReport;
  return error == ENOENT || error == ENOTDIR ? AtReportPath::Nothing : AtReportPath::Other;
}

// What a "No report" line says of the report's path: an earlier report
// there is kept; nothing there, none was written before.
const char* previousReport(const char* iniPath) {
  switch (whatStandsAtReportPath(iniPath)) {
    case AtReportPath::EarlierReport:
      return "; previous report kept";
    case AtReportPath::Nothing:
      return "; no previous report";
    case AtReportPath::Other:
      break;
  }
  return "";
}

// Why the data server was not reached, beyond the wait: an INI file that
// is not there, which leaves the library without a data source.
std::string missingIniFile(const char* iniPath) {
  int error = 0;
  std::FILE* file = platform::openRegularFile(iniPath, &error);
  if (file != nullptr) std::fclose(file);
  if (file != nullptr || error != ENOENT) return "";
  return std::string("; the INI file '") + iniPath + "' was not found";
}

// A stop request that came during the run gives it the request's exit
// status; without a report, the reason names the request, after the
// run's own reason when it had failed already.
void applyStopRequest(RunEnd& end) {
  const platform::StopRequest stop = platform::stopRequest();
  if (!stop) return;
  end.status = stop.exitStatus;
  if (end.report) return;
  const std::string stopped = std::string("stopped by ") + stop.name;
  end.failure = end.failure.empty() ? stopped : end.failure + "; " + stopped;
}

// The run's last line: what it did, or why it wrote no report, with the
// exit status, so that an operator can grep it and a scheduler mail it.
void logRunEnd(const char* iniPath, const RunEnd& end, RunContext& run,
               std::chrono::steady_clock::time_point started) {
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  const unsigned lines = static_cast<unsigned>(end.report.tradeLines);
  const unsigned received = static_cast<unsigned>(run.intake.rowsReceived.load());
  const unsigned kept = static_cast<unsigned>(run.intake.store.added());
  if (end.status == kExitReportComplete) {
    online::zuqonlPrintf(
        "[ZUQTradeReport] Report complete: '%s', %u trades written (%u rows received, "
        "%u kept), %.2f s%s\n",
        end.report.absolutePath.c_str(), lines, received, kept, took.count(),
        warningCountText(run.warningsLogged).c_str());
    return;
  }
  if (end.report) {
    // Stopped once the report stood whole (or was being finished in place).
    online::zuqonlPrintf(
        "[ZUQTradeReport] Stopped by %s after the report was written: '%s', %u trades written "
        "(%u rows received, %u kept), %.2f s, exit status %d\n",
        platform::stopRequest().name, end.report.absolutePath.c_str(), lines, received, kept,
        took.count(), end.status);
    return;
  }
  const std::string reason = end.failure + previousReport(iniPath);
  online::zuqonlPrintf("[ZUQTradeReport] No report: %s, exit status %d\n", reason.c_str(),
                       end.status);
}

// Every run's end, once the library is closed and no notification can
// follow: a stop request that came decides the status, the closing line is
// logged, and the run's context is let go. Returns the exit status.
int endRun(const char* iniPath, RunEnd& end, RunContext& run,
           std::chrono::steady_clock::time_point started) {
  applyStopRequest(end);
  logRunEnd(iniPath, end, run, started);
  platform::setStopHandler(nullptr);
  attachIntake(nullptr);
  return end.status;
}

// Waits for the table to be delivered in full and writes the report, which
// must not overwrite the table files `tableFiles`.
RunEnd receiveAndReport(const char* iniPath, const std::vector<std::string>& tableFiles,
                        RunContext& run) {
  run.intake.ready.awaitSynchronization();
  const RunSettings& settings = run.settings;
  run.intake.store.setLimit(uint64_t{settings.maxStoreMiB} * 1024 * 1024);
  const int32_t conn =
      online::zuqonlOpenConnection(1, "Trade", kTradeColumnList, "issue_name",
                                   settings.issue.c_str(), settings.issue.c_str(), 0);
  RunEnd end;
  end.status = kExitNotSynchronized;
  switch (waitUnlessStopped(run.intake.ready, waitMilliseconds(settings.syncTimeout, 10000))) {
    case platform::kWaitSignalled:
      // Trades lost to a lack of memory have been logged by the intake: the
      // table was not received whole, so there is nothing true to report.
      if (const IntakeEnd intakeEnd = run.intake.end.load(); intakeEnd != IntakeEnd::Running) {
        end.failure = intakeEnd == IntakeEnd::OverStoreLimit
                          ? "the kept trades exceed max_store_mb"
                          : "the kept trades did not fit in memory";
        break;
      }
      // A report that will be empty says why, before it is written.
      for (const std::string& warning :
           emptyReportWarnings(run.intake.turnedAwayAtSynchronization, settings.selection,
                               run.intake.store.added())) {
        logRunWarning(run, warning);
      }
      // A report rewritten in place that another run is writing is waited
      // for as long as the data server is.
      end.report = writeTradeReport([iniPath] { return readReportOptions(iniPath); }, iniPath,
                                    run.intake.store, tableFiles,
                                    waitMilliseconds(settings.syncTimeout, 1000));
      for (const std::string& warning : end.report.warnings) logRunWarning(run, warning);
      end.status = end.report ? kExitReportComplete : kExitReportNotWritten;
      end.failure = end.report.failure;
      break;
    case platform::kWaitTimeout:
      online::zuqonlPrintf("[ZUQTradeReport] Can't receive records: timeout expired (%d sec)\n",
                           settings.syncTimeout);
      // What the link did meanwhile says why (the library is still open, but
      // a notification that comes now could only add to what is said).
      end.failure = "the table was not synchronized within " +
                    std::to_string(waitMilliseconds(settings.syncTimeout, 10000) / 1000) + " s" +
                    run.intake.link.closingClauses();
      break;
    case kWaitStopped:
      break;  // the closing line names the request
    default:
      online::zuqonlPrintf("[ZUQTradeReport] Error in WaitForSingleObject\n");
      end.failure = "the wait for the table failed";
      break;
  }
  online::zuqonlCloseConnection(conn);
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
  RunContext run;
  // From the first line on, a stop request releases the driver's pending
  // wait at once; the run then closes what it opened and says so in its
  // closing line.
  platform::setStopHandler([&run] { run.intake.ready.interrupt(); });
  const platform::Profile atStart = platform::Profile::read(iniPath);
  // Before any line: the log is the library's, so a library that cannot be
  // used is told on standard error alone.
  const online::Library& library = online::bindLibrary(readOptions(atStart).run.libraryCalls);
  if (!library.problem.empty()) {
    std::fprintf(stderr, "[ZUQTradeReport] No report: %s%s, exit status %d\n",
                 library.problem.c_str(), previousReport(iniPath), kExitNoLibrary);
    return kExitNoLibrary;
  }
  online::zuqonlPrintf("ZUQ KALDO Online. ZUQTradeReport v1.0\n");
  online::zuqonlPrintf("Copyright (C) ZUQ KALDO. All rights reserved.\n");
  online::zuqonlPrintf("[ZUQTradeReport] Using ini path: '%s'\n", iniPath);
  const ConfigurationReview review = reviewConfiguration(atStart, iniPath);
  for (const std::string& warning : review.warnings) logRunWarning(run, warning);
  attachIntake(&run.intake);

  online::zuqonlSetIniPath(iniPath);
  if (online::kTwoConventions) {
    // Once, where the log file has it: how a 32-bit program calls this DLL.
    online::zuqonlPrintf("[ZUQTradeReport] Library calls: %s (%s)\n",
                         std::string(online::callsName(library.calls)).c_str(),
                         library.callsFoundBy.c_str());
  }
  RunEnd end;
  if (!review.refusals.empty()) {
    // A misspelt setting would make the run report other trades, or write
    // elsewhere, than the INI file asks for: nothing is connected or written.
    // The library is given the INI file only so that these lines reach its
    // log file too.
    end.status = kExitSettingRefused;
    for (const std::string& refusal : review.refusals) {
      end.failure += (end.failure.empty() ? "" : "; ") + refusal;
    }
    online::zuqonlClose();
    return endRun(iniPath, end, run, started);
  }
  online::zuqonlIdentify("", "", "");
  online::zuqonlRegisterCallback(onlineCallback);
  online::zuqonlOpen();

  RunSettings& settings = run.settings;
  settings.syncTimeout = readOptions(atStart).run.syncTimeout;
  switch (waitUnlessStopped(run.intake.ready, waitMilliseconds(settings.syncTimeout, 1000))) {
    case platform::kWaitSignalled: {
      // The selection as the INI file holds it once the data server is
      // there; the waits keep the sync timeout they began with.
      const int32_t syncTimeout = settings.syncTimeout;
      settings = readOptions(platform::Profile::read(iniPath)).run;
      settings.syncTimeout = syncTimeout;
      run.intake.selection = settings.selection;
      run.intake.logRows = settings.logRows != 0;
      run.intake.storeLimitMiB = settings.maxStoreMiB;
      online::zuqonlPrintf("[ZUQTradeReport] Creating trade report for firm '%s', status %d\n",
                           settings.selection.firmCode.c_str(), settings.selection.tradeStatus);
      end = receiveAndReport(iniPath, libraryTableFiles(atStart, iniPath), run);
      break;
    }
    case platform::kWaitTimeout:
      online::zuqonlPrintf("[ZUQTradeReport] Can't connect to DS: timeout expired (%d sec)\n",
                           settings.syncTimeout);
      end.failure = "the data server was not reached within " +
                    std::to_string(waitMilliseconds(settings.syncTimeout, 1000) / 1000) + " s" +
                    missingIniFile(iniPath);
      break;
    case kWaitStopped:
      break;  // the closing line names the request
    default:
      online::zuqonlPrintf("[ZUQTradeReport] Error in WaitForSingleObject\n");
      end.failure = "the wait for the data server failed";
      break;
  }

  online::zuqonlClose();
  return endRun(iniPath, end, run, started);  // the run's event and store go with `run`
}
