#pragma once
// The command line of glimmora batch: its options, read into BatchOptions,
// and the combinations it refuses.

#include <chrono>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "batch/batch_worker.h"
#include "batch/output_encoding.h"
#include "cli/network_options.h"
#include "cli/option_parser.h"
#include "cli/report_options.h"
#include "cli/service_options.h"
#include "cli/workstation_options.h"
#include "inventory/registry/registry_network.h"

namespace glimmora::cli {

struct BatchOptions {
  std::string offlineDir;
  int jobs = 1;
  std::chrono::milliseconds timeout = kDefaultWorkstationTimeout;
  bool resume = false;
  bool merge = false;
  bool strictExit = false;
  bool summaryShown = false;
  bool encodingGiven = false;
  OutputEncoding encoding = OutputEncoding::kAnsi;
  std::string retryFrom;
  std::string summaryJsonPath;
  ServiceOptions service;
  std::vector<std::string> files;
};

// The options that are the command's own (its table adds the network,
// report and service options to them).
std::span<const OptionSpec> BatchOptionTable();

void PrintBatchUsage(std::FILE* out);

// A command line that cannot be run: the reason, then how it is used; the
// exit status of a usage error.
int UsageError(const std::string& reason);

// Reads the options that are the command's own; false with *problem (a
// usage error) naming the one that is wrong.
bool ReadBatchOptions(const WorkstationCommandLine& line, NetworkRegistryOptions* network,
                      BatchOptions* options, std::string* problem);

// The operands and options that do not go together; empty when they do.
std::string OperandProblem(const BatchOptions& options, const ReportOptions& report);

// --summary-json FILE must not take the place of a file the run reads or
// writes, nor share standard output with the result lines.
std::string SummaryProblem(const BatchOptions& options, const ReportOptions& report,
                           const std::string& inputPath, const std::string& outputPath);

}  // namespace glimmora::cli
