// One decoded row of table "Trade".
#pragma once

#include <cstdint>
#include <string_view>

#include "online/online_library.h"

// The texts view the values of the AddRow record it was decoded from, so a
// record lives no longer than the callback that received the row; what the
// report needs of it is copied into the trade store before the callback
// returns. Prices, quantities, volumes and rates stay in the server's text
// form. A fresh record is all zeros and empty texts.
struct TradeRecord {
  int32_t rowID = 0;
  std::string_view init_name;
  std::string_view init_action;
  std::string_view init_pair;
  std::string_view init_memo;
  std::string_view conf_name;
  std::string_view conf_action;
  std::string_view conf_pair;
  std::string_view conf_memo;
  std::string_view issue_name;
  int32_t status = 0;
  std::string_view price;
  std::string_view qty;
  std::string_view volume;
  DateTimeValue trade_moment{};
  DateTimeValue affirm_moment{};
  std::string_view price_currency;
  std::string_view price_rate;
  std::string_view payment_currency;
  std::string_view payment_rate;
  DateTimeValue delivery_date{};
  std::string_view clear;
  std::string_view dcc;
  std::string_view type;
  std::string_view type_ext;
  std::string_view trade_ref;
  std::string_view repo_action;
  std::string_view repurchase;
};
