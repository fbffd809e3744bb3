// The run's settings: what section [options] of the INI file sets for the
// run (each key, its default and the member it sets: option_keys.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "intake/trade_selection.h"

// Written by the driver only: the sync timeout before the first wait, the
// rest after it and before the "Trade" connection is opened, so every row
// sees them complete. Read-only afterwards.
struct RunSettings {
  int32_t syncTimeout = 0;   // seconds, "sync_timeout"
  std::string issue;         // "trade_issue"
  TradeSelection selection;  // the firm and the statuses kept
  // "log_rows": non-zero logs every AddRow, UpdateRow and DeleteRow; 0 logs
  // none of them, only a count every so many rows received
  // (kRowsPerCountLine, intake/intake_context.h).
  int32_t logRows = 0;
  // "max_store_mb" as configured; a value that is not positive gives
  // defaultStoreLimitMiB.
  int32_t maxStoreMb = 0;
  // The most MiB the kept trades may take: maxStoreMb, or the default.
  uint32_t maxStoreMiB = 0;
  // "library_calls": how a 32-bit program calls the online library, "cdecl"
  // or "stdcall"; empty: found out from the library.
  std::string libraryCalls;
};

// The store's limit when none is configured, in MiB: half the machine's
// memory (`physicalBytes`, 0 when unknown), and in a program of 32-bit
// pointers (`pointerBytes` 4) at most 3 GiB, which leaves its 4 GiB of
// address space room for the library, the threads and the report.
uint32_t defaultStoreLimitMiB(uint64_t physicalBytes, size_t pointerBytes);
