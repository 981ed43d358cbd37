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

bool AreDuplicateRows(std::string_view monitorIdA, const MonitorRow& a, std::string_view monitorIdB,
                      const MonitorRow& b) {
  if (!EqualNoCase(monitorIdA, monitorIdB)) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (!EqualNoCase(a[i], b[i])) return false;
  }
  return true;
}

}  // namespace glimmora
