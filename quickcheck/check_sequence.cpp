#include "quickcheck/check_sequence.h"

#include "common/ansi_text.h"
#include "inventory/registry/examination.h"
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
  ProbeFunction probe;
  if (parts.probe != nullptr) {
    probe = [&parts](const std::string& name, std::string& text, const Deadline&) {
      return parts.probe->Ping(name, text);
    };
  }
  Examination examination = ExamineWorkstation(parts.registry, workstation, probe);
  switch (examination.outcome) {
    case ExaminationOutcome::kUnreachable:
    case ExaminationOutcome::kRegistryError:
    case ExaminationOutcome::kCutShort:  // not without a deadline
      parts.waitCursor.End();
      parts.messages.Show(examination.errorText, MessageIcon::kHand);
      return examination.outcome == ExaminationOutcome::kUnreachable
                 ? QuickCheckOutcome::kUnreachable
                 : QuickCheckOutcome::kRegistryError;
    case ExaminationOutcome::kNoMonitors:
    case ExaminationOutcome::kMonitorsFound:
      break;
  }

  // The box comes up while the key is still open and the wait cursor still on.
  const bool listed = parts.list.ShowCheck(examination.monitors);
  if (!listed) {
    parts.messages.Show(workstation + LoadText(kTextNoMonitorInformation),
                        MessageIcon::kExclamation);
  }
  examination.remoteRoot.reset();
  parts.waitCursor.End();
  return listed ? QuickCheckOutcome::kMonitorsListed : QuickCheckOutcome::kNoMonitors;
}

}  // namespace glimmora
