// One decoded row of table "Trade".
#pragma once

#include <cstdint>
#include <string>

#include "online/online_library.h"

// Every text is the record's own copy, never a pointer into a library record.
// Prices, quantities, volumes and rates stay in the server's text form. A
// fresh record is all zeros and empty texts.
struct TradeRecord {
  int32_t rowID = 0;
  std::string init_name;
  std::string init_action;
  std::string init_pair;
  std::string init_memo;
  std::string conf_name;
  std::string conf_action;
  std::string conf_pair;
  std::string conf_memo;
  std::string issue_name;
  int32_t status = 0;
  std::string price;
  std::string qty;
  std::string volume;
  DateTimeValue trade_moment{};
  DateTimeValue affirm_moment{};
  std::string price_currency;
  std::string price_rate;
  std::string payment_currency;
  std::string payment_rate;
  DateTimeValue delivery_date{};
  std::string clear;
  std::string dcc;
  std::string type;
  std::string type_ext;
  std::string trade_ref;
  std::string repo_action;
  std::string repurchase;
};
