// The report's columns, in the order of its lines: for each, its name in
// the header and what fills it in a trade line. The header, the number of
// delimiters, the order of a trade line and the column each kept text
// fills all follow from this one list. A new column is a kept text (its
// rule in intake/kept_trade.h) and one row here.
#pragma once

#include <array>
#include <cstddef>
#include <iterator>

#include "intake/kept_trade.h"

// What fills a column of a trade line.
enum class ColumnFill {
  Text,       // a kept text, as it is
  Status,     // the status's three-letter mnemonic
  Settle,     // the delivery date
  Trans,      // the row's ID, nine digits at least
  TradeDate,  // the date of the trade moment
  TradeTime,  // the time of the trade moment
};

struct ReportColumn {
  const char* name;
  ColumnFill fill;
  KeptText text = kKeptTextCount;  // the kept text of a Text column
};

// In the order of the line, read left to right.
// clang-format off
inline constexpr ReportColumn kReportColumns[] = {
    {"Issue", ColumnFill::Text, kIssueText}, {"Act", ColumnFill::Text, kActText},
    {"Stat", ColumnFill::Status}, {"Customer", ColumnFill::Text, kCustomerText},
    {"Contra", ColumnFill::Text, kContraText}, {"Price", ColumnFill::Text, kPriceText},
    {"Qty", ColumnFill::Text, kQtyText}, {"Amount", ColumnFill::Text, kAmountText},
    {"Curr", ColumnFill::Text, kCurrText}, {"Settle", ColumnFill::Settle},
    {"Trans", ColumnFill::Trans}, {"Date", ColumnFill::TradeDate}, {"Time", ColumnFill::TradeTime},
    {"Clr", ColumnFill::Text, kClrText}, {"TypeExt", ColumnFill::Text, kTypeExtText},
    {"TradeRef", ColumnFill::Text, kTradeRefText}, {"RepoAct", ColumnFill::Text, kRepoActText},
    {"Repurchase", ColumnFill::Text, kRepurchaseText}, {"Memo", ColumnFill::Text, kMemoText},
};
// clang-format on

inline constexpr size_t kReportColumnCount = std::size(kReportColumns);
// One between every two columns: the last has none.
inline constexpr size_t kReportDelimiters = kReportColumnCount - 1;

namespace report_columns_detail {
// Every kept text fills exactly one column, and the texts come in the
// order of KeptText, so that "the first text" of a line is its first in
// column order; a list that breaks this does not compile.
consteval std::array<size_t, kKeptTextCount> columnsOfTexts() {
  std::array<size_t, kKeptTextCount> columns{};
  int next = 0;
  for (size_t column = 0; column < kReportColumnCount; ++column) {
    const ReportColumn& row = kReportColumns[column];
    if (row.fill != ColumnFill::Text) continue;
    if (row.text != next) throw "the kept texts fill the columns in the order of KeptText";
    columns[next++] = column;
  }
  if (next != kKeptTextCount) throw "every kept text fills a column";
  return columns;
}
}  // namespace report_columns_detail

// The column that each kept text fills, by KeptText.
inline constexpr std::array<size_t, kKeptTextCount> kColumnOfText =
    report_columns_detail::columnsOfTexts();
