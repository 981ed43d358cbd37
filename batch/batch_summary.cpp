#include "batch/batch_summary.h"

#include <cstdio>

#include "batch/output_encoding.h"
#include "inventory/ansi_conversion.h"

namespace glimmora {

namespace {

constexpr std::size_t kKeptNameBytes = 1024;

double Seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

std::string Number(std::uint64_t value) {
  return std::to_string(value);
}

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

std::string JsonString(std::string_view ansi) {
  // JSON is UTF-8: what is none became U+FFFD, and the rest goes out as it is.
  const std::string text = ValidUtf8(Utf8FromAnsi(ansi));
  std::string json = "\"";
  for (const char byte : text) {
    const unsigned char c = static_cast<unsigned char>(byte);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      json += escape;
    } else {
      json += byte;
    }
  }
  return json + "\"";
}

std::string FormatSummaryJson(const BatchSummary& summary, std::string_view outcome) {
  char seconds[64];
  std::string json = "{\"outcome\":" + JsonString(outcome);
  json += ",\"examined\":" + Number(summary.examined);
  json += ",\"withMonitors\":" + Number(summary.withMonitors);
  json += ",\"withoutMonitorInformation\":" + Number(summary.withoutMonitorInfo);
  json += ",\"failed\":" + Number(summary.Failed());
  json += ",\"failedBy\":{\"notFound\":" + Number(summary.notFound) +
          ",\"noReply\":" + Number(summary.noReply) +
          ",\"registryRefusedOrUnreachable\":" + Number(summary.registryUnreachable) +
          ",\"accessDenied\":" + Number(summary.registryDenied) +
          ",\"timedOut\":" + Number(summary.timedOut) + "}";
  json += ",\"monitorsWritten\":" + Number(summary.monitorsWritten);
  json += ",\"keptFromEarlierRun\":" + Number(summary.keptFromEarlierRun);
  if (summary.servicesAsked)
    json += ",\"services\":{\"running\":" + Number(summary.servicesRunning) +
            ",\"startedRestored\":" + Number(summary.servicesStartedRestored) +
            ",\"startFailed\":" + Number(summary.servicesStartFailed) +
            ",\"restoreFailed\":" + Number(summary.servicesRestoreFailed) + "}";
  if (summary.slowestWorkstation.empty()) {
    json += ",\"slowest\":null";
  } else {
    std::snprintf(seconds, sizeof seconds, "%.3f", Seconds(summary.slowest));
    json += ",\"slowest\":{\"workstation\":" + JsonString(summary.slowestWorkstation) +
            ",\"seconds\":" + seconds + "}";
  }
  std::snprintf(seconds, sizeof seconds, "%.3f", Seconds(summary.elapsed));
  json += ",\"elapsedSeconds\":" + std::string(seconds) + "}\n";
  return json;
}

}  // namespace glimmora
