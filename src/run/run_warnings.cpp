#include "run/run_warnings.h"

#include <algorithm>
#include <cstdint>

#include "intake/escaped_text.h"
#include "online/online_library.h"
#include "report/trade_line.h"
#include "run/run_context.h"

namespace {

std::string trades(uint64_t count) {
  return std::to_string(count) + (count == 1 ? " trade" : " trades");
}

// "1 NEW (12 trades), 2 COM (3 trades), 99 (1 trade)": the statuses in
// ascending order, with their mnemonics where they have one.
std::string statusList(const StatusTally& tally) {
  std::vector<StatusTally::Entry> entries(tally.begin(), tally.end());
  std::sort(
      entries.begin(), entries.end(),
      [](const StatusTally::Entry& a, const StatusTally::Entry& b) { return a.status < b.status; });
  std::string list;
  for (const StatusTally::Entry& entry : entries) {
    if (!list.empty()) list += ", ";
    list += std::to_string(entry.status);
    const std::string_view mnemonic = statusMnemonic(entry.status);
    if (mnemonic != "???") list.append(" ").append(mnemonic);
    list += " (" + trades(entry.trades) + ")";
  }
  if (tally.otherTrades() != 0)
    list += ", and " + trades(tally.otherTrades()) + " of other statuses";
  return list;
}

std::string noTradeOf(const TradeSelection& selection) {
  if (selection.firmCode.empty()) return "no trade is kept";
  return "no trade of firm '" + selection.firmCode + "' is kept";
}

std::string otherCaseWarning(const FilterTally& turnedAway, const TradeSelection& selection) {
  // The name comes from the data server: no byte of it may break the line.
  // Built by appending: GCC 12 at -O3 misreads "'" + a temporary (-Wrestrict).
  std::string name = "'";
  name += escapeControlBytes(std::string(turnedAway.firstOtherCaseName()).c_str());
  name += "'";
  const uint64_t count = turnedAway.otherCaseTrades;
  std::string text =
      noTradeOf(selection) + ", but " + trades(count) + (count == 1 ? " names " : " name ");
  text += turnedAway.otherCaseSpellings ? "it in another case, first as " + name : name;
  return text + ": firm codes are compared exactly";
}

std::string otherStatusWarning(const FilterTally& turnedAway, const TradeSelection& selection) {
  const std::string whose = selection.firmCode.empty() ? "the" : "its";
  std::string text = noTradeOf(selection) + ": ";
  const StatusTally& ordinary = turnedAway.statuses[0];
  const StatusTally& repo = turnedAway.statuses[1];
  if (ordinary.trades() != 0) {
    text += "trade_status=" + std::to_string(selection.tradeStatus) + ", but " + whose +
            " trades have status " + statusList(ordinary);
  }
  if (repo.trades() != 0) {
    if (ordinary.trades() != 0) text += "; ";
    text += "repotrade_status=" + std::to_string(selection.repoTradeStatus) + ", but " + whose +
            " repo trades have status " + statusList(repo);
  }
  return text;
}

}  // namespace

void logRunWarning(RunContext& run, const std::string& text) {
  online::zuqonlPrintf("[ZUQTradeReport] Warning: %s\n", text.c_str());
  ++run.warningsLogged;
}

std::vector<std::string> emptyReportWarnings(const FilterTally& turnedAway,
                                             const TradeSelection& selection, size_t kept) {
  std::vector<std::string> warnings;
  if (kept != 0) return warnings;
  if (turnedAway.otherCaseTrades != 0) warnings.push_back(otherCaseWarning(turnedAway, selection));
  if (turnedAway.statuses[0].trades() + turnedAway.statuses[1].trades() != 0) {
    warnings.push_back(otherStatusWarning(turnedAway, selection));
  }
  return warnings;
}

std::string warningCountText(unsigned warnings) {
  if (warnings == 0) return "";
  return ", " + std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings");
}
