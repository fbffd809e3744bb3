// The configured firm's part in a trade.
#pragma once

#include <string_view>

#include "intake/trade_record.h"

enum class FirmSide { None = 0, Initiator = 1, Confirmer = 2, Both = 3 };

// Whether a side name is the firm code: same length, same bytes,
// case-sensitive, no trimming. Nothing matches an empty firm code.
bool firmMatches(std::string_view name, std::string_view firmCode);

// Whether a side name that does not match the firm code is the code in
// another case: same length, the same bytes but for ASCII letters, which
// may differ in case. A name that matches exactly does not count.
bool firmMatchesInOtherCase(std::string_view name, std::string_view firmCode);

// None when no firm code is configured or the firm is on neither side.
FirmSide firmSide(const TradeRecord& record, std::string_view firmCode);
