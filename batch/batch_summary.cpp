#include "batch/batch_summary.h"

#include <cmath>
#include <nlohmann/json.hpp>

#include "batch/output_encoding.h"
#include "inventory/ansi_conversion.h"

namespace glimmora {

namespace {

constexpr std::size_t kKeptNameBytes = 1024;

}  // namespace

void BatchSummary::AddWorkstations(WorkstationResult result, std::uint64_t workstations,
                                   std::uint64_t lines) {
  examined += workstations;
  switch (result) {
    case WorkstationResult::kMonitors:
      withMonitors += workstations;
      monitorsWritten += lines;
      break;
    case WorkstationResult::kNoMonitorInfo:
      withoutMonitorInfo += workstations;
      break;
    case WorkstationResult::kNotFound:
      notFound += workstations;
      break;
    case WorkstationResult::kNoReply:
      noReply += workstations;
      break;
    case WorkstationResult::kRegistryDenied:
      registryDenied += workstations;
      break;
    case WorkstationResult::kRegistryUnreachable:
      registryUnreachable += workstations;
      break;
    case WorkstationResult::kTimedOut:
      timedOut += workstations;
      break;
  }
}

void BatchSummary::AddService(ServiceHandling service) {
  switch (service) {
    case ServiceHandling::kNotNeeded:
      break;
    case ServiceHandling::kRunning:
      ++servicesRunning;
      break;
    case ServiceHandling::kStartFailed:
      ++servicesStartFailed;
      break;
    case ServiceHandling::kStartedRestored:
      ++servicesStartedRestored;
      break;
    case ServiceHandling::kRestoreFailed:
      ++servicesRestoreFailed;
      break;
  }
}

void BatchSummary::Add(std::string_view workstation, WorkstationResult result, std::uint64_t lines,
                       std::chrono::steady_clock::duration took) {
  AddWorkstations(result, 1, lines);
  if (slowestWorkstation.empty() || took > slowest) {
    // A name is at most a few hundred bytes; a runaway line of the input is
    // not kept twice.
    slowestWorkstation = std::string(workstation.substr(0, kKeptNameBytes));
    slowest = took;
  }
}

std::string FormatSummaryJson(const BatchSummary& summary, std::string_view outcome) {
  using Json = nlohmann::ordered_json;
  // Seconds to the millisecond.
  const auto seconds = [](std::chrono::steady_clock::duration duration) {
    return std::round(std::chrono::duration<double>(duration).count() * 1000) / 1000;
  };
  Json json;
  json["outcome"] = outcome;
  json["examined"] = summary.examined;
  json["withMonitors"] = summary.withMonitors;
  json["withoutMonitorInformation"] = summary.withoutMonitorInfo;
  json["failed"] = summary.Failed();
  json["failedBy"] = {{"notFound", summary.notFound},
                      {"noReply", summary.noReply},
                      {"registryRefusedOrUnreachable", summary.registryUnreachable},
                      {"accessDenied", summary.registryDenied},
                      {"timedOut", summary.timedOut}};
  json["monitorsWritten"] = summary.monitorsWritten;
  json["keptFromEarlierRun"] = summary.keptFromEarlierRun;
  if (summary.servicesAsked) {
    json["services"] = {{"running", summary.servicesRunning},
                        {"startedRestored", summary.servicesStartedRestored},
                        {"startFailed", summary.servicesStartFailed},
                        {"restoreFailed", summary.servicesRestoreFailed}};
  }
  json["slowest"] = nullptr;
  if (!summary.slowestWorkstation.empty()) {
    // JSON is UTF-8: a name that is not comes out with U+FFFD where it breaks.
    json["slowest"] = {{"workstation", Utf8FromAnsi(summary.slowestWorkstation)},
                       {"seconds", seconds(summary.slowest)}};
  }
  json["elapsedSeconds"] = seconds(summary.elapsed);
  return json.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace glimmora
