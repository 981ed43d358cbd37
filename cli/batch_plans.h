#pragma once
// How a run of glimmora batch goes, decided before anything is written: a
// fresh run, one that goes on with an interrupted run's output (--resume),
// or one that examines an earlier run's failures again (--retry-from, with
// --merge). Each plan is a value; ApplyBatchPlan sets the services up from
// it in one place.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "batch/batch_summary.h"
#include "batch/batch_worker.h"
#include "batch/output_encoding.h"
#include "batch/result_format.h"
#include "batch/run_record.h"
#include "cli/batch_modes.h"

namespace glimmora::cli {

// What the plans are made from.
struct PlanRequest {
  std::string inputPath;  // INPUT, or OLD for a retry; trimmed
  std::string outputPath;
  ReportLayout reportLayout;
  std::string pnpIdsPath;          // the maker list the lines are named from
  const ResultFormat* readBack{};  // how the lines read back
  OutputEncoding encoding = OutputEncoding::kAnsi;
  bool encodingGiven = false;
  bool merge = false;
};

struct BatchPlan {
  OutputEncoding encoding = OutputEncoding::kAnsi;
  // Of OUTPUT as it is, the bytes that stay (a resume); 0: written afresh.
  std::uint64_t keptBytes = 0;
  bool writeHeader = true;
  // INPUT's first workstations, whose lines the kept bytes hold.
  std::uint64_t workstationsDone = 0;
  // The counts the run starts from: the workstations the kept bytes hold,
  // as if this run had written them.
  BatchSummary startCounts;
  // Written beside OUTPUT until the run is whole, for a resume to check;
  // none for a retry or standard output.
  std::optional<RunRecord> record;
  // A retry: OLD, read and held, whose failures are examined instead of
  // INPUT's names; with merge, the lines are collected to be merged into it.
  std::unique_ptr<RetryRun> retry;
  bool merge = false;
};

// A run refused before its batch: why, and whether the command line is to
// blame (a usage error) rather than a file.
struct PlanRefusal {
  std::string why;
  bool commandLine = false;
};

// OUTPUT written from its start, the record beside it when it is a file.
std::optional<BatchPlan> PlanFreshRun(const PlanRequest& request, PlanRefusal* refusal);

// Goes on with OUTPUT, the output of an earlier run of INPUT, after its last
// whole workstation; an OUTPUT that does not exist is begun afresh. Refused,
// OUTPUT untouched, when its record or its lines do not fit this run.
std::optional<BatchPlan> PlanResumedRun(const PlanRequest& request, PlanRefusal* refusal);

// Examines again the workstations that failed in OLD (request.inputPath).
std::optional<BatchPlan> PlanRetriedRun(const PlanRequest& request, PlanRefusal* refusal);

// Sets the services up for the plan: the lists and results for "-", the
// output kept, encoded and recorded as the plan says. The plan outlives the
// batch.
void ApplyBatchPlan(BatchPlan& plan, BatchServices* services);

}  // namespace glimmora::cli
