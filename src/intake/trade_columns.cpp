#include "intake/trade_columns.h"

#include <cstring>
#include <utility>

namespace {

bool isBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

}  // namespace

uint32_t decimalValue(const char* text) {
  if (!text) return 0;
  while (isBlank(*text)) ++text;
  const bool negative = *text == '-';
  if (*text == '+' || *text == '-') ++text;
  uint32_t value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) value = value * 10u + uint32_t(*text - '0');
  return negative ? 0u - value : value;
}

namespace {

// Column `Index` of `row` into `record`, chosen when compiled, so that the
// decoder is a straight run of stores with no test of a column's kind. With
// `KeptOnly`, a column the intake never reads costs nothing, not even the
// pass that measures its text.
template <bool KeptOnly, size_t Index>
void decodeColumn(const RowNotice& row, TradeRecord& record, uint32_t* key) {
  constexpr TradeColumn column = kTradeColumns[Index];
  if constexpr (KeptOnly && !column.kept) return;
  const char* value = row.values[Index] ? row.values[Index] : "";
  if constexpr (column.kind == ColumnKind::Key) {
    *key = decimalValue(value);
  } else if constexpr (column.kind == ColumnKind::Text) {
    record.*column.text = std::string_view(value, std::strlen(value));
  } else if constexpr (column.kind == ColumnKind::Number) {
    record.*column.number = static_cast<int32_t>(decimalValue(value));
  }
}

template <bool KeptOnly, size_t... Index>
TradeRecord decodeColumns(const RowNotice& row, uint32_t* key, std::index_sequence<Index...>) {
  TradeRecord record;
  record.rowID = row.rowID;
  (decodeColumn<KeptOnly, Index>(row, record, key), ...);
  return record;
}

}  // namespace

TradeRecord decodeTradeFields(const RowNotice& row, uint32_t* key) {
  return decodeColumns<false>(row, key, std::make_index_sequence<kTradeColumnCount>());
}

TradeRecord decodeKeptFields(const RowNotice& row, uint32_t* key) {
  return decodeColumns<true>(row, key, std::make_index_sequence<kTradeColumnCount>());
}

void decodeReportedDates(const RowNotice& row, TradeRecord* record) {
  for (int i : {tradeColumnIndex("trade_moment"), tradeColumnIndex("delivery_date")}) {
    online::zuqonlStringToDateTime(row.values[i] ? row.values[i] : "",
                                   &(record->*kTradeColumns[i].dateTime));
  }
}
