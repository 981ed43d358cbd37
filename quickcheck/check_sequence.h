#pragma once
// The Quick Check of one workstation: probe, open its registry, scan every
// display device identifier into the monitor list, and report what went wrong.
// Written once against small interfaces; the window page and the command line
// both run it.

#include <string>
#include <string_view>

#include "inventory/registry/registry_access.h"
#include "quickcheck/monitor_list.h"

namespace glimmora {

// Does the workstation answer? The contract of PingHost (reachability/probe.h):
// above 0 unreachable, with the text to show; 0 or below the check goes on.
class ReachabilityProbe {
 public:
  virtual ~ReachabilityProbe() = default;
  virtual int Ping(const std::string& workstation, std::string& resultText) = 0;
};

enum class MessageIcon { kExclamation, kHand };

// Modal message boxes with an OK button.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  virtual void Show(const std::string& text, MessageIcon icon) = 0;
};

enum class QuickCheckOutcome {
  kNameEmpty,      // nothing left after trimming; the page puts the focus into the name field
  kUnreachable,    // the probe's text was shown
  kRegistryError,  // the registry could not be opened; its text was shown
  kNoMonitors,     // nothing was admitted; "<name> has No monitor information." was shown
  kMonitorsListed,
};

struct QuickCheckParts {
  ReachabilityProbe* probe = nullptr;  // nullptr: no probe is sent
  RegistryAccess& registry;
  MonitorList& list;
  MessageBoxes& messages;
  WaitCursor& waitCursor;
};

// Runs the check for the name as typed (white space at its ends is removed).
QuickCheckOutcome RunQuickCheck(std::string_view typedName, const QuickCheckParts& parts);

}  // namespace glimmora
