#pragma once
// The counts at the end of a batch: how many workstations were examined,
// what became of them, how many monitor lines were written, the slowest
// workstation and the time it all took.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "batch/result_format.h"
#include "inventory/registry/service_start.h"

namespace glimmora {

struct BatchSummary {
  std::uint64_t examined = 0;
  std::uint64_t withMonitors = 0;
  std::uint64_t withoutMonitorInfo = 0;
  std::uint64_t notFound = 0;
  std::uint64_t noReply = 0;
  std::uint64_t registryUnreachable = 0;  // refused or unreachable
  std::uint64_t registryDenied = 0;       // access denied
  std::uint64_t timedOut = 0;
  std::uint64_t monitorsWritten = 0;
  // Workstations an earlier run had written, kept by a resume.
  std::uint64_t keptFromEarlierRun = 0;
  std::string slowestWorkstation;
  std::chrono::steady_clock::duration slowest{};
  std::chrono::steady_clock::duration elapsed{};

  // Counts one workstation whose lines were written.
  void Add(std::string_view workstation, WorkstationResult result, std::uint64_t lines,
           std::chrono::steady_clock::duration took);
  // Counts `workstations` of one result with `lines` lines between them,
  // without a time: those an earlier run wrote and a resume keeps count as if
  // this run had written them, so the counts say what the whole file holds.
  void AddWorkstations(WorkstationResult result, std::uint64_t workstations, std::uint64_t lines);
  // With --start-service: how the Remote Registry services fared.
  bool servicesAsked = false;
  std::uint64_t servicesRunning = 0;
  std::uint64_t servicesStartedRestored = 0;
  std::uint64_t servicesStartFailed = 0;
  std::uint64_t servicesRestoreFailed = 0;
  void AddService(ServiceHandling service);
  std::uint64_t Failed() const {
    return notFound + noReply + registryUnreachable + registryDenied + timedOut;
  }
};

// The same counts as one JSON object (with its line end); `outcome` is
// "finished", "stopped" or "failed".
std::string FormatSummaryJson(const BatchSummary& summary, std::string_view outcome);

}  // namespace glimmora
