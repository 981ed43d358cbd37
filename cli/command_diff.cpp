// glimmora diff OLD NEW: what changed between two inventories of glimmora batch.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "batch/csv_line.h"
#include "batch/held_file.h"
#include "batch/inventory_diff.h"
#include "batch/inventory_read.h"
#include "cli/batch_modes.h"
#include "cli/commands.h"
#include "cli/console.h"
#include "cli/option_parser.h"
#include "inventory/ansi_conversion.h"

namespace glimmora::cli {

namespace {

constexpr char kDiffUsage[] =
    "usage: glimmora diff [--format csv|jsonl] [-o FILE] [--summary-json FILE] OLD NEW\n"
    "Compares two result files of glimmora batch (CSV, with or without --columns\n"
    "extended, or JSON lines) and writes one line per monitor that changed:\n"
    "moved, added, removed, now-ghost, now-present; unverified where its workstation\n"
    "could not be examined in NEW (with the reason), duplicate-key where one key is on\n"
    "two workstations of one file. The counts of each go to standard error.\n"
    "  --format csv|jsonl   CSV (the default) or JSON lines\n"
    "  -o FILE              write to FILE (whole or not at all) instead of standard output\n"
    "  --summary-json FILE  the counts as one JSON object\n"
    "Exit status: 0 no monitor moved, added, removed, unplugged or plugged in again\n"
    "(unverified and duplicate-key lines are no changes), 1 some did, 2 a file could\n"
    "not be read or written, 64 usage error, 74 standard output not written.\n";

constexpr int kExitChanges = 1;
constexpr int kExitFileError = 2;

constexpr OptionSpec kOptions[] = {
    {"--format", true},
    {"-o", true},
    {"--output", true},
    {"--summary-json", true},
};

struct DiffOptions {
  bool json = false;
  std::string outputPath = kStandardStream;
  std::string summaryPath;
  std::string oldPath;
  std::string newPath;
};

std::string ParseOptions(const ParsedArguments& parsed, DiffOptions* options) {
  for (const ParsedOption& option : parsed.options) {
    if (option.name == "--format") {
      if (option.value != "csv" && option.value != "jsonl")
        return "--format takes csv or jsonl, not '" + std::string(option.value) + "'";
      options->json = option.value == "jsonl";
    } else if (option.name == "-o" || option.name == "--output") {
      options->outputPath = option.value;
    } else if (option.name == "--summary-json") {
      options->summaryPath = option.value;
    }
  }
  if (parsed.operands.size() != 2) return "give two result files, OLD and NEW";
  options->oldPath = parsed.operands[0];
  options->newPath = parsed.operands[1];
  if (options->oldPath == kStandardStream && options->newPath == kStandardStream)
    return "OLD and NEW cannot both be standard input";
  return {};
}

// An output must not take the place of a file read, nor of the other output.
std::string ClashProblem(const DiffOptions& options) {
  const std::pair<const char*, const std::string*> outputs[] = {
      {"-o", &options.outputPath}, {"--summary-json", &options.summaryPath}};
  const std::pair<const char*, const std::string*> others[] = {
      {"OLD", &options.oldPath}, {"NEW", &options.newPath}, {"-o", &options.outputPath}};
  for (const auto& [outputName, output] : outputs) {
    if (output->empty()) continue;
    for (const auto& [otherName, other] : others) {
      if (other == output || *output == kStandardStream || *other == kStandardStream ||
          !SameFile(*output, *other))
        continue;
      return std::string(outputName) + " " + *output + " is " + otherName +
             ": it would take its place; give it a file of its own";
    }
  }
  if (options.summaryPath == kStandardStream && options.outputPath == kStandardStream)
    return "--summary-json - would put the counts among the changes on standard output";
  return {};
}

nlohmann::json TextOrNull(const std::string& text) {
  if (text.empty()) return nullptr;
  return Utf8FromAnsi(text);
}

std::string FormatChanges(const std::vector<InventoryChange>& changes, bool json) {
  std::string text;
  if (!json)
    text = CsvLine({"Change", "Monitor Key", "Maker", "Model", "Serial", "Old Workstation",
                    "New Workstation", "Reason"});
  for (const InventoryChange& change : changes) {
    if (!json) {
      text += CsvLine({std::string(ChangeName(change.kind)), change.key, change.maker, change.model,
                       change.serial, change.oldWorkstation, change.newWorkstation, change.reason});
      continue;
    }
    nlohmann::ordered_json object;
    object["change"] = ChangeName(change.kind);
    object["monitorKey"] = Utf8FromAnsi(change.key);
    object["maker"] = TextOrNull(change.maker);
    object["model"] = TextOrNull(change.model);
    object["serial"] = TextOrNull(change.serial);
    object["oldWorkstation"] = TextOrNull(change.oldWorkstation);
    object["newWorkstation"] = TextOrNull(change.newWorkstation);
    if (!change.reason.empty()) object["reason"] = change.reason;
    text += object.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  }
  return text;
}

std::string CountsText(const std::array<std::size_t, kChangeKinds>& counts) {
  std::string text;
  for (std::size_t kind = 0; kind < kChangeKinds; ++kind) {
    if (!text.empty()) text += ", ";
    text +=
        std::to_string(counts[kind]) + " " + std::string(ChangeName(static_cast<ChangeKind>(kind)));
  }
  return text;
}

std::string DiffSummaryJson(const DiffOptions& options,
                            const std::array<std::size_t, kChangeKinds>& counts,
                            const Inventory& before, const Inventory& after) {
  nlohmann::ordered_json summary;
  summary["old"] = Utf8FromAnsi(options.oldPath);
  summary["new"] = Utf8FromAnsi(options.newPath);
  summary["oldMonitors"] = before.monitors().size();
  summary["newMonitors"] = after.monitors().size();
  std::size_t total = 0;
  nlohmann::ordered_json changes;
  for (std::size_t kind = 0; kind < kChangeKinds; ++kind) {
    changes[std::string(ChangeName(static_cast<ChangeKind>(kind)))] = counts[kind];
    total += counts[kind];
  }
  summary["changes"] = std::move(changes);
  summary["total"] = total;
  return summary.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// Standard output, or the whole file through a new one renamed into place.
bool Deliver(const std::string& path, const std::string& bytes, std::string* reason) {
  if (path == kStandardStream) {
    // The CSV's lines end in CR LF already; JSON lines in LF alone.
    SetBinaryMode(stdout);
    if (std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
        std::fflush(stdout) == 0)
      return true;
    *reason = "standard output: could not be written";
    return false;
  }
  return ReplaceWholeFile(path, bytes, reason);
}

}  // namespace

int RunDiffCommand(const Arguments& arguments) {
  ParsedArguments parsed;
  std::string problem;
  if (!ParseArguments(arguments, kOptions, &parsed, &problem)) {
    std::fprintf(stderr, "glimmora diff: %s\n%s", problem.c_str(), kDiffUsage);
    return kExitUsage;
  }
  if (parsed.help) {
    std::fputs(kDiffUsage, stdout);
    return 0;
  }
  DiffOptions options;
  problem = ParseOptions(parsed, &options);
  if (problem.empty()) problem = ClashProblem(options);
  if (!problem.empty()) {
    std::fprintf(stderr, "glimmora diff: %s\n%s", problem.c_str(), kDiffUsage);
    return kExitUsage;
  }

  Inventory before;
  Inventory after;
  InventoryFileKind oldKind{};
  InventoryFileKind newKind{};
  std::string error;
  if (!ReadInventoryFile(options.oldPath, &before, &oldKind, &error) ||
      !ReadInventoryFile(options.newPath, &after, &newKind, &error)) {
    std::fprintf(stderr, "glimmora diff: %s\n", error.c_str());
    return kExitFileError;
  }
  if ((oldKind == InventoryFileKind::kSpecifiedCsv) !=
      (newKind == InventoryFileKind::kSpecifiedCsv))
    std::fprintf(stderr,
                 "glimmora diff: warning: OLD is %s and NEW %s: a monitor whose key the "
                 "specified columns cannot tell (no serial text) shows as removed and added\n",
                 std::string(InventoryFileKindName(oldKind)).c_str(),
                 std::string(InventoryFileKindName(newKind)).c_str());

  const std::vector<InventoryChange> changes = CompareInventories(before, after);
  const std::array<std::size_t, kChangeKinds> counts = CountChanges(changes);
  std::string reason;
  if (!Deliver(options.outputPath, FormatChanges(changes, options.json), &reason)) {
    std::fprintf(stderr, "glimmora diff: %s\n", reason.c_str());
    return options.outputPath == kStandardStream ? kExitOutputError : kExitFileError;
  }
  std::fprintf(stderr, "glimmora diff: %s\n", CountsText(counts).c_str());
  if (!options.summaryPath.empty() &&
      !Deliver(options.summaryPath, DiffSummaryJson(options, counts, before, after), &reason)) {
    std::fprintf(stderr, "glimmora diff: %s\n", reason.c_str());
    return options.summaryPath == kStandardStream ? kExitOutputError : kExitFileError;
  }
  const bool changed =
      std::any_of(changes.begin(), changes.end(),
                  [](const InventoryChange& change) { return IsChange(change.kind); });
  return changed ? kExitChanges : 0;
}

}  // namespace glimmora::cli
