#include "intake/firm_side.h"

#include "run/run_settings.h"

bool firmMatches(std::string_view name) {
  return !runSettings.firmCode.empty() && name == runSettings.firmCode;
}

FirmSide firmSide(const TradeRecord& record) {
  const bool initiator = firmMatches(record.init_name);
  const bool confirmer = firmMatches(record.conf_name);
  if (initiator && confirmer) return FirmSide::Both;
  if (initiator) return FirmSide::Initiator;
  if (confirmer) return FirmSide::Confirmer;
  return FirmSide::None;
}
