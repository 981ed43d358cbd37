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

// Bytes that do not form UTF-8 become U+FFFD: JSON is UTF-8.
std::size_t Utf8Length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF)
    length = 2;
  else if (lead >= 0xE0 && lead <= 0xEF)
    length = 3;
  else if (lead >= 0xF0 && lead <= 0xF4)
    length = 4;
  else
    return 0;
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and code points beyond U+10FFFF.
  if ((lead == 0xE0 && byte(1) < 0xA0) || (lead == 0xED && byte(1) >= 0xA0) ||
      (lead == 0xF0 && byte(1) < 0x90) || (lead == 0xF4 && byte(1) >= 0x90))
    return 0;
  return length;
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
  const std::string text = ValidUtf8(Utf8FromAnsi(ansi));
  std::string json = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      json += escape;
    } else if (c >= 0x80) {
      const std::size_t length = Utf8Length(std::string_view(text).substr(i));
      if (length == 0) {
        json += "\\ufffd";
        ++i;
        continue;
      }
      json.append(text, i, length);
      i += length;
      continue;
    } else {
      json += static_cast<char>(c);
    }
    ++i;
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
