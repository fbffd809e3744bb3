#include "intake/firm_side.h"

bool firmMatches(std::string_view name, std::string_view firmCode) {
  return !firmCode.empty() && name == firmCode;
}

namespace {

char asciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool firmMatchesInOtherCase(std::string_view name, std::string_view firmCode) {
  if (firmCode.empty() || name.size() != firmCode.size() || name == firmCode) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (asciiLower(name[i]) != asciiLower(firmCode[i])) return false;
  }
  return true;
}

FirmSide firmSide(const TradeRecord& record, std::string_view firmCode) {
  const bool initiator = firmMatches(record.init_name, firmCode);
  const bool confirmer = firmMatches(record.conf_name, firmCode);
  if (initiator && confirmer) return FirmSide::Both;
  if (initiator) return FirmSide::Initiator;
  if (confirmer) return FirmSide::Confirmer;
  return FirmSide::None;
}
