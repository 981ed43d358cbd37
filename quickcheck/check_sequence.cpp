#include "quickcheck/check_sequence.h"

#include <vector>

#include "common/ansi_text.h"
#include "inventory/monitor_table.h"
#include "inventory/registry/registry_scan.h"
#include "resources/texts.h"

namespace glimmora {

QuickCheckOutcome RunQuickCheck(std::string_view typedName, const QuickCheckParts& parts) {
  const std::string workstation = TrimWhiteSpace(typedName);
  if (workstation.empty()) {
    parts.messages.Show(LoadText(kTextNameNotSpecified), MessageIcon::kExclamation);
    return QuickCheckOutcome::kNameEmpty;
  }

  parts.waitCursor.Begin();
  parts.list.Clear();

  std::string message;
  if (parts.probe != nullptr && parts.probe->Ping(workstation, message) > 0) {
    parts.waitCursor.End();
    parts.messages.Show(message, MessageIcon::kHand);
    return QuickCheckOutcome::kUnreachable;
  }

  RegKey remoteRoot = kNoKey;
  std::vector<std::string> deviceIds;
  if (ConnectRemoteRegistry(parts.registry, workstation, &remoteRoot, &deviceIds, &message) != 0) {
    parts.waitCursor.End();
    parts.messages.Show(message, MessageIcon::kHand);
    return QuickCheckOutcome::kRegistryError;
  }

  parts.list.BeginCheck();
  MonitorTable table;
  for (const std::string& deviceId : deviceIds) {
    // A device key that cannot be opened contributes no row; the check goes on.
    // A lost connection ends it: the rows listed may be any part of the monitors.
    if (ScanDisplayMonitors(parts.registry, remoteRoot, deviceId, table, &message) ==
        kScanConnectionLost) {
      parts.list.Clear();
      parts.registry.RegCloseKey(remoteRoot);
      parts.waitCursor.End();
      parts.messages.Show(message, MessageIcon::kHand);
      return QuickCheckOutcome::kRegistryError;
    }
    for (std::size_t row = 0; row < table.RowCount(); ++row)
      parts.list.AdmitRow(deviceId, RowAt(table, row));
  }

  // The box comes up while the key is still open and the wait cursor still on.
  const bool listed = parts.list.FinishCheck();
  if (!listed) {
    parts.messages.Show(workstation + LoadText(kTextNoMonitorInformation),
                        MessageIcon::kExclamation);
  }
  parts.registry.RegCloseKey(remoteRoot);
  parts.waitCursor.End();
  return listed ? QuickCheckOutcome::kMonitorsListed : QuickCheckOutcome::kNoMonitors;
}

}  // namespace glimmora
