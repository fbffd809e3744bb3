#include "report/trade_line.h"

#include <cstdio>

#include "intake/firm_side.h"

namespace {

struct StatusName {
  int32_t status;
  const char* mnemonic;
};

constexpr StatusName kStatusNames[] = {
    {1, "NEW"},  {2, "COM"},  {3, "VXI"},  {4, "VXC"},  {5, "CXL"},  {11, "DEL"},
    {12, "ONE"}, {14, "NEI"}, {18, "COB"}, {19, "BAC"}, {21, "BAA"}, {22, "BAX"},
    {23, "BAY"}, {24, "NEO"}, {25, "EOM"}, {26, "EOA"},
};

struct RepoCode {
  char action;
  const char* initiator;
  const char* otherSide;
};

constexpr RepoCode kRepoCodes[] = {
    {'1', "BS", "LS"}, {'2', "LS", "BS"}, {'3', "RS", "AS"},
    {'5', "BM", "LM"}, {'6', "LM", "BM"}, {'7', "RM", "AM"},
};

// Two side texts joined by a hyphen-minus, for a line that is not one side's.
void writeJoinedField(ReportFile& file, std::string_view first, std::string_view second,
                      std::string_view delimiter) {
  writeText(file, first);
  writeText(file, "-");
  writeField(file, second, delimiter);
}

// What snprintf left in `text`: its result is the length it wanted, which a
// small buffer may cut.
std::string_view printed(const char* text, int length, size_t size) {
  if (length <= 0) return {};
  return std::string_view(text, static_cast<size_t>(length) < size ? length : size - 1);
}

}  // namespace

std::string actText(const TradeRecord& record) {
  const std::string& action =
      firmSide(record) == FirmSide::Confirmer ? record.conf_action : record.init_action;
  return action + record.type;
}

std::string_view repoActCode(const TradeRecord& record) {
  if (record.type_ext.empty() || record.type_ext[0] != 'R') return {};
  const bool initiator = firmSide(record) == FirmSide::Initiator;
  if (!record.repo_action.empty()) {
    for (const RepoCode& code : kRepoCodes) {
      if (code.action == record.repo_action[0]) return initiator ? code.initiator : code.otherSide;
    }
  }
  return "??";
}

const char* statusMnemonic(int32_t status) {
  for (const StatusName& name : kStatusNames) {
    if (name.status == status) return name.mnemonic;
  }
  return "???";
}

void writeField(ReportFile& file, std::string_view text, std::string_view delimiter) {
  writeText(file, text);
  writeText(file, delimiter);
}

void writeDate(ReportFile& file, const DateTimeValue& value, int32_t dateFormat) {
  char text[32];
  const int length =
      dateFormat == 0
          ? std::snprintf(text, sizeof text, "%04d%02d%02d", value.year, value.month, value.day)
          : std::snprintf(text, sizeof text, "%02d/%02d/%04d", value.day, value.month, value.year);
  writeText(file, printed(text, length, sizeof text));
}

void writeTime(ReportFile& file, const DateTimeValue& value) {
  char text[32];
  const int length =
      std::snprintf(text, sizeof text, "%02d:%02d:%02d", value.hour, value.minute, value.second);
  writeText(file, printed(text, length, sizeof text));
}

void writeTradeLine(ReportFile& file, const TradeRecord& record, std::string_view delimiter,
                    int32_t dateFormat) {
  const FirmSide side = firmSide(record);
  writeField(file, record.issue_name, delimiter);
  writeField(file, actText(record), delimiter);
  writeField(file, statusMnemonic(record.status), delimiter);
  if (side == FirmSide::Initiator) {
    writeField(file, record.init_pair, delimiter);
    writeField(file, record.conf_name, delimiter);
  } else if (side == FirmSide::Confirmer) {
    writeField(file, record.conf_pair, delimiter);
    writeField(file, record.init_name, delimiter);
  } else {
    writeJoinedField(file, record.init_pair, record.conf_pair, delimiter);
    writeJoinedField(file, record.init_name, record.conf_name, delimiter);
  }
  writeField(file, record.price, delimiter);
  writeField(file, record.qty, delimiter);
  writeField(file, record.volume, delimiter);
  writeField(file, record.payment_currency, delimiter);
  writeDate(file, record.delivery_date, dateFormat);
  writeText(file, delimiter);
  char trans[16];
  const int length = std::snprintf(trans, sizeof trans, "%09d", record.rowID);
  writeField(file, printed(trans, length, sizeof trans), delimiter);
  writeDate(file, record.trade_moment, dateFormat);
  writeText(file, delimiter);
  writeTime(file, record.trade_moment);
  writeText(file, delimiter);
  writeField(file, record.dcc, delimiter);
  writeField(file, record.type_ext, delimiter);
  writeField(file, record.trade_ref, delimiter);
  writeField(file, repoActCode(record), delimiter);
  writeField(file, record.repurchase, delimiter);
  if (side == FirmSide::Initiator || side == FirmSide::Both) writeText(file, record.init_memo);
  if (side == FirmSide::Confirmer) writeText(file, record.conf_memo);
  writeLineEnd(file);
}
