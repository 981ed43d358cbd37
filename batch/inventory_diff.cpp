#include "batch/inventory_diff.h"

#include <algorithm>
#include <map>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "batch/result_format.h"

namespace glimmora {

namespace {

std::string UpperName(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

// One key's monitor on one workstation: the lines of its instances merged
// (a monitor moved from one port to another is recorded twice).
struct Site {
  const InventoryMonitor* first = nullptr;
  Presence presence = Presence::kGhost;
};

Presence Merged(Presence a, Presence b) {
  if (a == Presence::kPresent || b == Presence::kPresent) return Presence::kPresent;
  if (a == Presence::kUnknown || b == Presence::kUnknown) return Presence::kUnknown;
  return Presence::kGhost;
}

// The sites of every key of one inventory, by upper-case workstation name.
using Sites = std::map<std::string, Site>;
using KeySites = std::unordered_map<std::string_view, Sites>;

KeySites SitesOf(const Inventory& inventory) {
  KeySites keys;
  for (const InventoryMonitor& monitor : inventory.monitors()) {
    Site& site = keys[monitor.key][UpperName(monitor.workstation)];
    if (site.first == nullptr) {
      site.first = &monitor;
      site.presence = monitor.presence;
    } else {
      site.presence = Merged(site.presence, monitor.presence);
    }
  }
  return keys;
}

// A monitor keyed by its workstation (its file held neither serial nor EDID)
// is matched by maker, product and workstation: a file of another format may
// key the same monitor by its serial or its EDID's hash. One candidate only;
// two would be a guess.
void MatchWorkstationKeys(KeySites& keyed, const KeySites& other) {
  const auto product = [](std::string_view key) {
    const std::size_t colon = key.find(':');
    return colon < 2 ? std::string_view() : key.substr(0, colon - 1);  // "MFG-PROD-"
  };
  std::unordered_map<std::string, std::vector<std::string_view>> candidates;
  for (const auto& [key, sites] : other) {
    if (keyed.contains(key) || product(key).empty()) continue;
    for (const auto& [workstation, site] : sites)
      candidates[std::string(product(key)) + '\n' + workstation].push_back(key);
  }
  std::vector<std::pair<std::string_view, std::string_view>> renames;
  for (const auto& [key, sites] : keyed) {
    const std::string_view prefix = product(key);
    if (!key.substr(prefix.size()).starts_with("W:") || other.contains(key)) continue;
    const auto found = candidates.find(std::string(prefix) + '\n' + sites.begin()->first);
    if (found != candidates.end() && found->second.size() == 1)
      renames.emplace_back(key, found->second.front());
  }
  for (const auto& [from, to] : renames) {
    auto node = keyed.extract(from);
    node.key() = to;
    keyed.insert(std::move(node));
  }
}

// Where the monitor of a key is: the sites that have it present (or do not
// say), else every site, all of them ghosts.
std::vector<const Site*> Location(const Sites& sites) {
  std::vector<const Site*> where;
  for (const auto& [name, site] : sites) {
    if (site.presence != Presence::kGhost) where.push_back(&site);
  }
  if (where.empty()) {
    for (const auto& [name, site] : sites) where.push_back(&site);
  }
  return where;
}

std::string Workstations(const std::vector<const Site*>& where) {
  std::string names;
  for (const Site* site : where) {
    if (!names.empty()) names += "; ";
    names += site->first->workstation;
  }
  return names;
}

InventoryChange ChangeOf(ChangeKind kind, std::string_view key, const InventoryMonitor& shown) {
  InventoryChange change;
  change.kind = kind;
  change.key = key;
  change.maker = shown.maker;
  change.model = shown.model;
  change.serial = shown.serial;
  return change;
}

std::string ReasonFor(const WorkstationResult* result) {
  if (result == nullptr) return "not-listed";
  return std::string(ReasonName(*result));
}

}  // namespace

std::string_view ChangeName(ChangeKind kind) {
  switch (kind) {
    case ChangeKind::kMoved:
      return "moved";
    case ChangeKind::kAdded:
      return "added";
    case ChangeKind::kRemoved:
      return "removed";
    case ChangeKind::kNowGhost:
      return "now-ghost";
    case ChangeKind::kNowPresent:
      return "now-present";
    case ChangeKind::kUnverified:
      return "unverified";
    case ChangeKind::kDuplicateKey:
      break;
  }
  return "duplicate-key";
}

void Inventory::AddMonitor(InventoryMonitor monitor) {
  AddWorkstation(monitor.workstation, WorkstationResult::kMonitors);
  monitors_.push_back(std::move(monitor));
}

void Inventory::AddWorkstation(std::string_view workstation, WorkstationResult result) {
  const auto [it, added] = results_.try_emplace(UpperName(workstation), result);
  if (!added && IsFailure(it->second)) it->second = result;
}

const WorkstationResult* Inventory::ResultOf(std::string_view workstation) const {
  const auto it = results_.find(UpperName(workstation));
  return it == results_.end() ? nullptr : &it->second;
}

std::vector<InventoryChange> CompareInventories(const Inventory& before, const Inventory& after) {
  KeySites old = SitesOf(before);
  KeySites now = SitesOf(after);
  MatchWorkstationKeys(old, now);
  MatchWorkstationKeys(now, old);
  std::vector<InventoryChange> changes;

  for (const auto& [key, oldSites] : old) {
    const std::vector<const Site*> was = Location(oldSites);
    const auto found = now.find(key);
    const std::vector<const Site*> is =
        found == now.end() ? std::vector<const Site*>{} : Location(found->second);
    const InventoryMonitor& shown = *(is.empty() ? was : is).front()->first;
    if (was.size() > 1 || is.size() > 1) {
      // Two monitors with one serial, a vendor's fault: which of them went
      // where cannot be told, and merging them would lose one.
      // A fault both inventories share is one line, with both sides.
      const bool same = was.size() > 1 && Workstations(was) == Workstations(is);
      if (was.size() > 1) {
        InventoryChange change = ChangeOf(ChangeKind::kDuplicateKey, key, *was.front()->first);
        change.oldWorkstation = Workstations(was);
        if (same) change.newWorkstation = change.oldWorkstation;
        changes.push_back(std::move(change));
      }
      if (is.size() > 1 && !same) {
        InventoryChange change = ChangeOf(ChangeKind::kDuplicateKey, key, *is.front()->first);
        change.newWorkstation = Workstations(is);
        changes.push_back(std::move(change));
      }
      continue;
    }
    const Site& from = *was.front();
    const std::string& fromName = from.first->workstation;
    if (is.empty()) {
      // Nothing was learned of a workstation that failed or was not listed.
      const WorkstationResult* result = after.ResultOf(fromName);
      const bool examined = result != nullptr && !IsFailure(*result);
      InventoryChange change =
          ChangeOf(examined ? ChangeKind::kRemoved : ChangeKind::kUnverified, key, shown);
      change.oldWorkstation = fromName;
      if (!examined) change.reason = ReasonFor(result);
      changes.push_back(std::move(change));
      continue;
    }
    const Site& to = *is.front();
    const std::string& toName = to.first->workstation;
    ChangeKind kind;
    if (UpperName(fromName) != UpperName(toName)) {
      kind = ChangeKind::kMoved;
    } else if (from.presence == Presence::kPresent && to.presence == Presence::kGhost) {
      kind = ChangeKind::kNowGhost;
    } else if (from.presence == Presence::kGhost && to.presence == Presence::kPresent) {
      kind = ChangeKind::kNowPresent;
    } else {
      continue;
    }
    InventoryChange change = ChangeOf(kind, key, shown);
    change.oldWorkstation = fromName;
    change.newWorkstation = toName;
    changes.push_back(std::move(change));
  }

  for (const auto& [key, newSites] : now) {
    if (old.contains(key)) continue;
    const std::vector<const Site*> is = Location(newSites);
    InventoryChange change = ChangeOf(
        is.size() > 1 ? ChangeKind::kDuplicateKey : ChangeKind::kAdded, key, *is.front()->first);
    change.newWorkstation = Workstations(is);
    changes.push_back(std::move(change));
  }

  std::sort(changes.begin(), changes.end(), [](const InventoryChange& a, const InventoryChange& b) {
    return std::tie(a.kind, a.key, a.oldWorkstation, a.newWorkstation) <
           std::tie(b.kind, b.key, b.oldWorkstation, b.newWorkstation);
  });
  return changes;
}

bool IsChange(ChangeKind kind) {
  return kind != ChangeKind::kUnverified && kind != ChangeKind::kDuplicateKey;
}

std::array<std::size_t, kChangeKinds> CountChanges(const std::vector<InventoryChange>& changes) {
  std::array<std::size_t, kChangeKinds> counts{};
  for (const InventoryChange& change : changes) ++counts[static_cast<std::size_t>(change.kind)];
  return counts;
}

}  // namespace glimmora
