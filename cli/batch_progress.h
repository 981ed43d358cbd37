#pragma once
// glimmora batch on standard error: the progress while the batch runs, what
// a stop waits for, and the counts at the end.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "batch/batch_summary.h"
#include "batch/batch_worker.h"
#include "cli/batch_modes.h"

namespace glimmora::cli {

// A name as progress shows it. Names come from the input file: no control
// character reaches the terminal, and a runaway line of the input is not
// printed whole once a second (the output file carries it whole).
std::string ShownName(std::string_view name);

// The counts of the end, after the outcome.
std::string SummaryText(const BatchSummary& summary);

// Progress on stderr: on a terminal one line rewritten in place, elsewhere a
// line each time the workstation under examination changes.
class ProgressDisplay {
 public:
  ProgressDisplay(const BatchState& state, bool parallel);

  void Show();
  // Said at once when the first Ctrl-C arrives: what the batch waits for
  // before it ends, and how to end it sooner.
  void Stopping(std::chrono::milliseconds timeout);
  // The last count and time stay on the terminal, without a workstation.
  void Finish();

 private:
  // The workstation under examination; none while the batch waits for the
  // next line of the input, though the last name read is still recorded.
  std::string ExaminedWorkstation() const;
  // Finished of read, how many are under examination, and the first of them
  // in input order: the one the output waits for.
  void ShowParallel();
  std::string Head() const;
  void Draw(const std::string& checking);

  const BatchState& state_;
  const bool parallel_;
  const bool terminal_;
  const std::chrono::steady_clock::time_point start_;
  std::string lastWorkstation_;
  std::size_t lastWidth_ = 0;
};

// What the command line hears of its batch: each workstation written is
// counted into the summary and, with --merge, its lines are kept for OLD;
// the end wakes whoever waits for it.
class ConsoleObserver final : public BatchObserver {
 public:
  ConsoleObserver(BatchSummary* summary, RetryRun* merged) : summary_(summary), merged_(merged) {}
  void WorkstationWritten(const WrittenWorkstation& written) override;
  void BatchFinished() override;
  // Waits at most `period` for the end; true once it has come.
  bool WaitFinished(std::chrono::milliseconds period);

 private:
  BatchSummary* summary_;
  RetryRun* merged_;  // none without --merge
  std::mutex lock_;
  std::condition_variable finishSignal_;
  bool finished_ = false;
};

}  // namespace glimmora::cli
