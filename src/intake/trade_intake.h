// The row intake: decodes, filters and stores the rows of table "Trade".
#pragma once

#include <cstdint>

#include "online/online_library.h"

// Number of values a "Trade" row carries, in the order of the requested
// column list.
inline constexpr int kTradeColumnCount = 28;

// Called by onlineCallback on the notification thread for every AddRow. Keeps
// the row when the configured firm is on one of its sides (any firm when none
// is configured) and its status matches (the repo status for a "type_ext"
// beginning with "R"; 0 keeps every status), unless its "rev" is already
// stored. A null value reads as an empty text.
void addTradeRow(const RowNotice& row);

// "rev" and "status": leading white space, an optional sign, then decimal
// digits up to the first non-digit, modulo 2^32; no digits give 0.
uint32_t decimalValue(const char* text);
