#include "intake/firm_side.h"

bool firmMatches(std::string_view name, std::string_view firmCode) {
  return !firmCode.empty() && name == firmCode;
}

FirmSide firmSide(const TradeRecord& record, std::string_view firmCode) {
  const bool initiator = firmMatches(record.init_name, firmCode);
  const bool confirmer = firmMatches(record.conf_name, firmCode);
  if (initiator && confirmer) return FirmSide::Both;
  if (initiator) return FirmSide::Initiator;
  if (confirmer) return FirmSide::Confirmer;
  return FirmSide::None;
}
