#pragma once
// What changed between two inventories: monitors moved to another
// workstation, added, removed, unplugged (a ghost now) or plugged in again,
// keyed by their monitor keys (inventory/edid/monitor_key.h).

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "batch/result_format.h"
#include "inventory/monitor_table.h"

namespace glimmora {

// One monitor line of an inventory as read back. Texts that the file gives
// as unknown are empty.
struct InventoryMonitor {
  std::string workstation;
  std::string key;
  std::string maker;
  std::string model;
  std::string serial;
  Presence presence = Presence::kUnknown;
};

// Everything one result file says.
class Inventory {
 public:
  void AddMonitor(InventoryMonitor monitor);
  // A workstation's outcome; a name listed twice counts as examined when
  // either examination succeeded.
  void AddWorkstation(std::string_view workstation, WorkstationResult result);

  const std::vector<InventoryMonitor>& monitors() const { return monitors_; }
  // The outcome of the workstation, letter case aside; nothing when the file
  // does not name it.
  const WorkstationResult* ResultOf(std::string_view workstation) const;
  std::size_t WorkstationCount() const { return results_.size(); }

 private:
  std::vector<InventoryMonitor> monitors_;
  std::unordered_map<std::string, WorkstationResult> results_;  // by upper-case name
};

enum class ChangeKind {
  kMoved,         // on another workstation now
  kAdded,         // not in the older inventory
  kRemoved,       // its workstation was examined and no longer has it
  kNowGhost,      // present before, recorded but not plugged in now
  kNowPresent,    // a ghost before, plugged in now
  kUnverified,    // its workstation could not be examined this time, or was not listed
  kDuplicateKey,  // one key on two workstations of one inventory: not compared
};
inline constexpr std::size_t kChangeKinds = 7;

// Whether the kind tells of a change; unverified and duplicate-key tell
// what could not be compared.
bool IsChange(ChangeKind kind);

// "moved", "added", "removed", "now-ghost", "now-present", "unverified", "duplicate-key".
std::string_view ChangeName(ChangeKind kind);

struct InventoryChange {
  ChangeKind kind = ChangeKind::kAdded;
  std::string key;
  std::string maker;
  std::string model;
  std::string serial;
  // A duplicate key lists each of its workstations, separated by "; ", on the
  // side of the inventory that has them: on both sides when both have them
  // on the same workstations.
  std::string oldWorkstation;
  std::string newWorkstation;
  // Why a monitor is unverified: the reason its workstation has in the newer
  // inventory ("unreachable", "registry-denied"...), or "not-listed".
  std::string reason;
};

// The changes from `before` to `after`, in the order of ChangeKind, then by key.
//
// Where a monitor is: the workstations that have it present, or, when none
// has it present, those that keep it as a ghost; a monitor moved leaves a
// ghost behind, and that is no second place. Where that is more than one
// workstation, the key is reported as duplicate-key and not compared.
std::vector<InventoryChange> CompareInventories(const Inventory& before, const Inventory& after);

// How many changes of each kind, indexed by ChangeKind.
std::array<std::size_t, kChangeKinds> CountChanges(const std::vector<InventoryChange>& changes);

}  // namespace glimmora
