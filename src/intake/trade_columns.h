// The columns requested from table "Trade" and where each value goes: one
// table, from which both the column list the driver sends and the decoder
// are made, so that the two cannot disagree on an order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "intake/trade_record.h"
#include "online/online_library.h"

enum class ColumnKind { Key, Text, Number, DateTime };

struct TradeColumn {
  std::string_view name;
  ColumnKind kind;
  std::string_view TradeRecord::*text = nullptr;   // Text
  int32_t TradeRecord::*number = nullptr;          // Number
  DateTimeValue TradeRecord::*dateTime = nullptr;  // DateTime
  // Whether the intake reads the column, for its filters or the report
  // line; the others are requested all the same, and left undecoded.
  bool kept = true;
};

inline constexpr TradeColumn kTradeColumns[] = {
    {"rev", ColumnKind::Key},
    {"init_name", ColumnKind::Text, &TradeRecord::init_name},
    {"init_action", ColumnKind::Text, &TradeRecord::init_action},
    {"init_pair", ColumnKind::Text, &TradeRecord::init_pair},
    {"init_memo", ColumnKind::Text, &TradeRecord::init_memo},
    {"conf_name", ColumnKind::Text, &TradeRecord::conf_name},
    {"conf_action", ColumnKind::Text, &TradeRecord::conf_action},
    {"conf_pair", ColumnKind::Text, &TradeRecord::conf_pair},
    {"conf_memo", ColumnKind::Text, &TradeRecord::conf_memo},
    {"issue_name", ColumnKind::Text, &TradeRecord::issue_name},
    {"status", ColumnKind::Number, nullptr, &TradeRecord::status},
    {"price", ColumnKind::Text, &TradeRecord::price},
    {"qty", ColumnKind::Text, &TradeRecord::qty},
    {"volume", ColumnKind::Text, &TradeRecord::volume},
    {"trade_moment", ColumnKind::DateTime, nullptr, nullptr, &TradeRecord::trade_moment},
    {"affirm_moment", ColumnKind::DateTime, nullptr, nullptr, &TradeRecord::affirm_moment, false},
    {"price_currency", ColumnKind::Text, &TradeRecord::price_currency, nullptr, nullptr, false},
    {"price_rate", ColumnKind::Text, &TradeRecord::price_rate, nullptr, nullptr, false},
    {"payment_currency", ColumnKind::Text, &TradeRecord::payment_currency},
    {"payment_rate", ColumnKind::Text, &TradeRecord::payment_rate, nullptr, nullptr, false},
    {"delivery_date", ColumnKind::DateTime, nullptr, nullptr, &TradeRecord::delivery_date},
    {"clear", ColumnKind::Text, &TradeRecord::clear, nullptr, nullptr, false},
    {"dcc", ColumnKind::Text, &TradeRecord::dcc},
    {"type", ColumnKind::Text, &TradeRecord::type},
    {"type_ext", ColumnKind::Text, &TradeRecord::type_ext},
    {"trade_ref", ColumnKind::Text, &TradeRecord::trade_ref},
    {"repo_action", ColumnKind::Text, &TradeRecord::repo_action},
    {"repurchase", ColumnKind::Text, &TradeRecord::repurchase},
};

// Number of values a "Trade" row carries, in the order of the column list.
inline constexpr int kTradeColumnCount = static_cast<int>(std::size(kTradeColumns));
static_assert(kTradeColumnCount <= ZUQONL_ROW_VALUES);

// Position of the column `name` in the list; a name not in it does not
// compile where a constant is required.
consteval int tradeColumnIndex(std::string_view name) {
  for (int i = 0; i < kTradeColumnCount; ++i) {
    if (kTradeColumns[i].name == name) return i;
  }
  throw "no such column";
}

namespace trade_columns_detail {
consteval size_t listLength() {
  size_t length = 0;
  for (const TradeColumn& column : kTradeColumns) length += column.name.size() + 1;
  return length;  // commas between the names, and the NUL
}
consteval std::array<char, listLength()> list() {
  std::array<char, listLength()> text{};
  size_t at = 0;
  for (const TradeColumn& column : kTradeColumns) {
    if (at != 0) text[at++] = ',';
    for (char c : column.name) text[at++] = c;
  }
  return text;
}
inline constexpr std::array<char, listLength()> kList = list();
}  // namespace trade_columns_detail

// The names, separated by commas, no blanks, NUL-terminated: what the driver
// requests when it opens the "Trade" connection.
inline constexpr const char* kTradeColumnList = trade_columns_detail::kList.data();

// "rev" and "status": leading white space, an optional sign, then decimal
// digits up to the first non-digit, modulo 2^32; no digits give 0.
uint32_t decimalValue(const char* text);

// The record of one AddRow row but for its date-times, which stay zero: its
// texts view the row's values, and a null value reads as an empty text. The
// row's "rev", converted, goes to *key. The date-times come apart, so that
// the intake parses them only for the rows it keeps.
TradeRecord decodeTradeFields(const RowNotice& row, uint32_t* key);

// As decodeTradeFields(), but the texts of the columns that neither the
// filters nor the report line read stay empty: what the intake decodes for
// every row.
TradeRecord decodeKeptFields(const RowNotice& row, uint32_t* key);

// The date-times a report line writes ("trade_moment" and "delivery_date")
// into `record`; "affirm_moment" stays zero.
void decodeReportedDates(const RowNotice& row, TradeRecord* record);
