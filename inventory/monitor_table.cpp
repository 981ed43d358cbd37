#include "inventory/monitor_table.h"

#include "common/ansi_text.h"

namespace glimmora {

void MonitorTable::Clear() {
  for (auto* column : {&deviceClass, &description, &mfg, &hardwareId, &model, &serialNumber,
                       &monitorSize, &mfgDate, &edidVersion})
    column->clear();
  details.clear();
}

MonitorRow RowAt(const MonitorTable& table, std::size_t index) {
  return {table.deviceClass.at(index), table.description.at(index), table.mfg.at(index),
          table.hardwareId.at(index),  table.model.at(index),       table.serialNumber.at(index),
          table.monitorSize.at(index), table.mfgDate.at(index),     table.edidVersion.at(index)};
}

bool IsUnknown(std::string_view cell) {
  return EqualNoCase(cell, kUnknown);
}

bool IsReportableRow(std::string_view model, std::string_view serialNumber) {
  return !(IsUnknown(serialNumber) && IsUnknown(model));
}

bool IsReportableRow(const MonitorRow& row) {
  return IsReportableRow(row[kColumnModel], row[kColumnSerialNumber]);
}

namespace {
// Equal for two rows exactly when all their texts are equal under
// EqualNoCase: the fold changes only single-byte ASCII letters, which never
// begin or continue a multibyte character, so a text and its fold split into
// the same characters. Each text is preceded by its length, so that no text
// can run into the next (as it could in the texts joined by commas).
void AppendFolded(std::string& key, std::string_view text) {
  key += std::to_string(text.size());
  key += ':';
  key += ToUpperAnsi(text);
}
}  // namespace

bool ReportedMonitors::Admit(std::string_view monitorId, const MonitorRow& row,
                             MonitorDetails details) {
  return IsReportableRow(row) && AdmitReportable(monitorId, row, std::move(details));
}

bool ReportedMonitors::AdmitReportable(std::string_view monitorId, const MonitorRow& row,
                                       MonitorDetails details) {
  std::string key;
  AppendFolded(key, monitorId);
  for (const std::string& cell : row) AppendFolded(key, cell);
  const auto [kept, added] = keys_.emplace(std::move(key), rows_.size());
  if (!added) {
    Presence& keptPresence = rows_[kept->second].details.presence;
    if (details.presence == Presence::kPresent ||
        (details.presence == Presence::kUnknown && keptPresence == Presence::kGhost))
      keptPresence = details.presence;
    return false;
  }
  rows_.push_back(ReportedMonitor{std::string(monitorId), row, std::move(details)});
  return true;
}

}  // namespace glimmora
