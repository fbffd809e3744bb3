// Rows of table "Trade" shaped like those of bench/make_trades.py, for the
// microbenchmarks.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace bench {

inline constexpr char kColumns[] =
    "rev,init_name,init_action,init_pair,init_memo,conf_name,conf_action,conf_pair,conf_memo,"
    "issue_name,status,price,qty,volume,trade_moment,affirm_moment,price_currency,price_rate,"
    "payment_currency,payment_rate,delivery_date,clear,dcc,type,type_ext,trade_ref,repo_action,"
    "repurchase";

// The 28 values of trade n, in the order of kColumns.
inline std::vector<std::string> rowValues(int n) {
  static const char* const kFirms[] = {"NORDBANK", "ALPHACAP", "RIVERSEC", "OAKTRUST", "MERIDIAN"};
  const bool repo = n % 7 == 0;
  const int second = n % 86400;
  char text[64];
  auto format = [&](const char* pattern, auto... args) {
    std::snprintf(text, sizeof text, pattern, args...);
    return std::string(text);
  };
  const std::string moment = format("2026-12-%02d %02d:%02d:%02d", 1 + n % 28, second / 3600,
                                    second / 60 % 60, second % 60);
  return {std::to_string(n + 1),
          kFirms[n % 5],
          "B",
          format("C%03d", n % 997),
          format("memo %d", n),
          kFirms[(n + 2) % 5],
          "S",
          format("C%03d", n % 991),
          "",
          "BOND-2031",
          "2",
          format("%d.%02d", 90 + n % 20, n % 100),
          std::to_string(10 + n % 90),
          std::to_string(1000 + n),
          moment,
          moment + ".500",
          "EUR",
          "1",
          "CHF",
          "0.9412",
          format("2026-12-%02d", 1 + (n + 2) % 28),
          "CLR",
          "DCC1",
          repo ? "P" : "N",
          repo ? "R1" : "N1",
          format("T%07d", n),
          repo ? "1" : "",
          repo ? "101.25" : ""};
}

// Trade n as one line of the table file, CR LF included.
inline std::string csvRow(int n) {
  std::string line;
  for (const std::string& value : rowValues(n)) {
    if (!line.empty()) line += ',';
    line += value;
  }
  return line + "\r\n";
}

}  // namespace bench
