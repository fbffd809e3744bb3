// The warnings of a run: every one logged and counted in one place, and the
// ones that explain an empty report.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "intake/filter_tally.h"
#include "intake/trade_selection.h"

struct RunContext;

// Driver thread: logs "[ZUQTradeReport] Warning: TEXT" and counts it in
// `run`, for the closing line. Every warning line of a run goes through here.
void logRunWarning(RunContext& run, const std::string& text);

// Why a run that kept `kept` trades (none, for any warning) kept none of
// the firm's, from what the filters of `selection` turned away: trades
// that name the firm code in another case; trades of the firm whose status
// is not the one trade_status (or repotrade_status) asks for, with the
// statuses they have. Each a text for logRunWarning.
std::vector<std::string> emptyReportWarnings(const FilterTally& turnedAway,
                                             const TradeSelection& selection, size_t kept);

// What the closing line of a complete report adds for `warnings` warning
// lines: ", 1 warning", ", 3 warnings", or nothing for none.
std::string warningCountText(unsigned warnings);
