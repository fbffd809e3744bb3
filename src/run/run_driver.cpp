#include "run/run_driver.h"

#include <cinttypes>
#include <string>

#include "intake/notification_dispatch.h"
#include "online/online_library.h"
#include "platform/event.h"
#include "platform/profile.h"
#include "report/trade_report.h"
#include "run/run_settings.h"

namespace {

constexpr char kOptions[] = "options";

// The columns of table "Trade" that the intake decodes, in its order.
constexpr char kTradeColumnList[] =
    "rev,init_name,init_action,init_pair,init_memo,conf_name,conf_action,conf_pair,conf_memo,"
    "issue_name,status,price,qty,volume,trade_moment,affirm_moment,price_currency,price_rate,"
    "payment_currency,payment_rate,delivery_date,clear,dcc,type,type_ext,trade_ref,repo_action,"
    "repurchase";

std::string readText(const char* key, const char* iniPath) {
  char buffer[256];
  platform::getProfileString(kOptions, key, "", buffer, sizeof buffer, iniPath);
  return buffer;
}

int32_t readInt(const char* key, int32_t defaultValue, const char* iniPath) {
  return static_cast<int32_t>(platform::getProfileInt(kOptions, key, defaultValue, iniPath));
}

void readSelection(const char* iniPath) {
  runSettings.issue = readText("trade_issue", iniPath);
  runSettings.firmCode = readText("trade_participant", iniPath);
  runSettings.tradeStatus = readInt("trade_status", 0, iniPath);
  runSettings.repoTradeStatus = readInt("repotrade_status", 0, iniPath);
}

// Waits for the table to be delivered in full and writes the report.
int receiveAndReport(const char* iniPath) {
  awaitSynchronization();
  const int32_t conn =
      zuqonlOpenConnection(1, "Trade", kTradeColumnList, "issue_name", runSettings.issue.c_str(),
                           runSettings.issue.c_str(), 0);
  int status = kExitNotSynchronized;
  switch (platform::waitForEvent(readyEvent, waitMilliseconds(runSettings.syncTimeout, 10000))) {
    case platform::kWaitSignalled:
      status = writeTradeReport(iniPath) ? kExitReportComplete : kExitReportNotWritten;
      break;
    case platform::kWaitTimeout:
      zuqonlPrintf("[ZUQTradeReport] Can't receive records: timeout expired (%d sec)\n",
                   runSettings.syncTimeout);
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

int runTradeReport(const char* iniPath) {
  zuqonlPrintf("ZUQ KALDO Online. ZUQTradeReport v1.0\n");
  zuqonlPrintf("Copyright (C) ZUQ KALDO. All rights reserved.\n");
  zuqonlPrintf("[ZUQTradeReport] Using ini path: '%s'\n", iniPath);
  readyEvent = platform::createAutoResetEvent();

  zuqonlSetIniPath(iniPath);
  zuqonlIdentify("", "", "");
  zuqonlRegisterCallback(onlineCallback);
  zuqonlOpen();

  runSettings.syncTimeout = readInt("sync_timeout", 10, iniPath);
  int status = kExitNoDataServer;
  switch (platform::waitForEvent(readyEvent, waitMilliseconds(runSettings.syncTimeout, 1000))) {
    case platform::kWaitSignalled:
      readSelection(iniPath);
      zuqonlPrintf("[ZUQTradeReport] Creating trade report for firm '%s', status %d\n",
                   runSettings.firmCode.c_str(), runSettings.tradeStatus);
      status = receiveAndReport(iniPath);
      break;
    case platform::kWaitTimeout:
      zuqonlPrintf("[ZUQTradeReport] Can't connect to DS: timeout expired (%d sec)\n",
                   runSettings.syncTimeout);
      break;
    default:
      zuqonlPrintf("[ZUQTradeReport] Error in WaitForSingleObject\n");
      break;
  }

  zuqonlClose();
  platform::closeEvent(readyEvent);
  readyEvent = nullptr;
  return status;
}
