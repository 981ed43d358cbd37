// The batch runner: one workstation after the other, or several at once with
// the output written as one after the other would write it.
//
// The thread that runs the batch reads the names and writes the results: it
// hands each name, with its place in the input, to a queue that up to `jobs`
// worker threads take from; each worker examines its workstation into lines
// (ExamineIntoLines) and files them under that place; the batch thread writes
// them strictly in input order. It reads ahead of what it has written by a
// bounded window only, so what is held at any time grows with the number of
// jobs, not with the input. With one job there are no workers: the batch
// thread examines each workstation itself as it reads the name, and writes it
// before it reads the next.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "batch/batch_worker.h"
#include "batch/input_list.h"
#include "batch/output_file.h"
#include "resources/texts.h"

namespace glimmora {

namespace {

struct BatchFiles {
  std::unique_ptr<InputFile> input;  // none when the services give the names
  std::unique_ptr<OutputStream> output;
};

// The names a batch examines, in order: the input's lines, or the list the
// services give instead (a retry's workstations, as an earlier output names
// them, each examined as it stands).
class WorkstationNames {
 public:
  WorkstationNames(InputFile* input, const std::vector<std::string>* list)
      : input_(input), list_(list) {}
  bool AtEnd() const { return list_ != nullptr ? next_ >= list_->size() : input_->AtEnd(); }
  // The next line's name, counted in the state's lines read; empty for a line
  // that names none (and at the end).
  std::string Next(BatchState& state);

 private:
  InputFile* input_;
  const std::vector<std::string>* list_;
  std::size_t next_ = 0;
};

// Closes both files. A result file that could not be written in full, or an
// input that broke off part-way, must not pass for a finished batch: either
// goes into the report.
void CloseBatchFiles(BatchState& state, BatchFiles* files, bool writeFailed,
                     const std::string& inputPath, const std::string& outputPath) {
  state.SetCurrentWorkstation({});
  const bool inputFailed = files->input && files->input->ReadFailed();
  const std::string inputReason = files->input ? files->input->FailureReason() : std::string();
  files->input.reset();
  // Bytes still buffered can fail to reach the disk only now (a full disk).
  const bool closed = files->output->Close();
  const std::string outputReason = files->output->FailureReason();
  files->output.reset();
  if (writeFailed || !closed)
    state.ReportFailure(LoadText(kTextOutputWriteError), outputPath, outputReason);
  else if (inputFailed)
    state.ReportFailure(LoadText(kTextInputOpenError), inputPath, inputReason);
}

// Resets the report and progress counts, opens the input and then the output
// and writes the header line. False when the batch cannot go on: the report
// says why and the files are closed again (the output stays untouched unless
// the header failed).
bool OpenBatchFiles(BatchState& state, const BatchServices& services, const ResultFormat& format,
                    const std::string& inputPath, const std::string& outputPath,
                    BatchFiles* files) {
  state.ResetReport();

  // The input is opened first, so a missing input leaves an existing output untouched.
  std::string reason;
  if (!services.workstationList) {
    files->input = services.openInputFile(inputPath, &reason);
    if (!files->input) {
      state.ReportFailure(LoadText(kTextInputOpenError), inputPath, std::move(reason));
      return false;
    }
    // Creating the output would empty the very list being read.
    std::error_code ignored;
    if (std::filesystem::equivalent(inputPath, outputPath, ignored)) {
      files->input.reset();
      state.ReportFailure(LoadText(kTextOutputOpenError), outputPath,
                          "it is the input file itself");
      return false;
    }
  }
  reason.clear();
  files->output = services.openOutputFile(outputPath, &reason);
  if (!files->output) {
    files->input.reset();
    state.ReportFailure(LoadText(kTextOutputOpenError), outputPath, std::move(reason));
    return false;
  }
  // JSON lines have no header; a resumed run keeps the one the file has.
  const std::string header = services.writeHeader ? format.Header() : std::string();
  if (!header.empty() && WriteOutputLine(*files->output, header) != 0) {
    CloseBatchFiles(state, files, true, inputPath, outputPath);
    return false;
  }
  return true;
}

std::string WorkstationNames::Next(BatchState& state) {
  if (list_ != nullptr) {
    if (next_ >= list_->size()) return {};
    state.linesRead.fetch_add(1);
    return (*list_)[next_++];
  }
  const std::string line = ReadInputLine(*input_);
  if (!IsEndOfInput(line, *input_)) state.linesRead.fetch_add(1);
  return ExtractWorkstationName(line);
}

// 0 when every line was written whole; -1 at the first that was not.
int WriteWorkstationLines(OutputStream& output, const std::vector<std::string>& lines) {
  // One write for the whole workstation: whatever ends the program, the file
  // never holds part of one.
  if (lines.size() == 1) return WriteOutputLine(output, lines.front());
  std::size_t size = 0;
  for (const std::string& line : lines) size += line.size();
  std::string all;
  all.reserve(size);
  for (const std::string& line : lines) all += line;
  return WriteOutputLine(output, all);
}

// How far reading may run ahead of writing, per job. One slow workstation
// holds up the output; the others go on meanwhile, so the window must cover
// what they do while it is examined (a few dozen fast ones each).
constexpr std::uint64_t kWindowPerJob = 64;

class BatchRunner {
 public:
  BatchRunner(BatchState& state, const BatchServices& services, const ResultFormat& format)
      : state_(state),
        services_(services),
        format_(format),
        jobs_(static_cast<std::size_t>(services.jobs)),
        window_(kWindowPerJob * static_cast<std::uint64_t>(services.jobs)) {
    workers_.reserve(jobs_);
  }

  ~BatchRunner() { EndWorkers(); }

  BatchRunner(const BatchRunner&) = delete;
  BatchRunner& operator=(const BatchRunner&) = delete;

  // Runs the batch over the open files, header written. False when a write
  // failed (nothing is written after it).
  bool Run(WorkstationNames& input, OutputStream& output);

  bool OutOfMemory() const { return outOfMemory_; }

 private:
  enum class Outcome { kFinished, kUnfinished, kOutOfMemory };
  struct Job {
    std::uint64_t sequence;
    std::string name;
  };
  struct Result {
    Outcome outcome = Outcome::kUnfinished;
    std::vector<std::string> lines;
    WorkstationResult result = WorkstationResult::kMonitors;
    ServiceHandling service = ServiceHandling::kNotNeeded;
    std::string name;
    std::chrono::steady_clock::duration took{};
  };

  bool Dispatch(std::string name);
  void WorkerLoop();
  // Examines one workstation into its result, unless the batch is stopping.
  Result Examine(Job job);
  bool Inline() const { return jobs_ <= 1; }
  // Tells the workers to drop what they do (a stop, a write failure) and
  // files every queued job as unfinished.
  void Abandon(bool dropInFlight);
  void EndWorkers();
  bool ShouldStop() const { return state_.StopRequested() || abandoned_.load(); }

  BatchState& state_;
  const BatchServices& services_;
  const ResultFormat& format_;
  const std::size_t jobs_;
  const std::uint64_t window_;

  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable resultFiled_;
  std::deque<Job> queue_;                    // guarded by mutex_
  std::map<std::uint64_t, Result> results_;  // guarded by mutex_; not yet written
  std::size_t idleWorkers_ = 0;              // guarded by mutex_
  bool noMoreJobs_ = false;                  // guarded by mutex_
  std::atomic<bool> abandoned_{false};
  std::vector<std::thread> workers_;
  std::uint64_t dispatched_ = 0;  // batch thread only
  std::uint64_t skipped_ = 0;     // batch thread only: workstations already written
  bool outOfMemory_ = false;      // batch thread only
};

bool BatchRunner::Dispatch(std::string name) {
  if (Inline()) {
    // The name before the count: whoever reads the count finds the name.
    state_.SetCurrentWorkstation(name);
    state_.workstationsRead.fetch_add(1);
    const std::uint64_t sequence = dispatched_++;
    Result result = Examine(Job{sequence, std::move(name)});
    std::lock_guard<std::mutex> lock(mutex_);
    results_.emplace(sequence, std::move(result));
    return true;
  }
  bool needWorker = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(Job{dispatched_++, std::move(name)});
    // A worker more while every one is busy, up to the number of jobs.
    needWorker = queue_.size() > idleWorkers_ && workers_.size() < jobs_;
  }
  state_.workstationsRead.fetch_add(1);
  workAvailable_.notify_one();
  if (!needWorker) return true;
  try {
    workers_.emplace_back(&BatchRunner::WorkerLoop, this);
  } catch (const std::system_error&) {
    // The system has no thread to spare: the workers there are must do.
    return !workers_.empty();
  }
  return true;
}

// The name moves into the result: a name can be very long, and is held once.
BatchRunner::Result BatchRunner::Examine(Job job) {
  Result result;
  if (ShouldStop()) {
    result.name = std::move(job.name);
    return result;
  }
  const auto stopRequested = [this] { return ShouldStop(); };
  // Several at once are each named while they are examined; one alone is
  // the current workstation until the next.
  if (!Inline()) state_.BeginWorkstation(job.sequence, job.name);
  const auto began = std::chrono::steady_clock::now();
  try {
    if (ExamineIntoLines(services_, format_, job.name, stopRequested, &result.lines, &result.result,
                         &result.service) == WorkstationOutcome::kFinished)
      result.outcome = Outcome::kFinished;
  } catch (const std::bad_alloc&) {
    result.lines.clear();
    result.outcome = Outcome::kOutOfMemory;
  }
  result.took = std::chrono::steady_clock::now() - began;
  if (!Inline()) state_.EndWorkstation(job.sequence);
  if (result.outcome == Outcome::kFinished) state_.workstationsFinished.fetch_add(1);
  result.name = std::move(job.name);
  return result;
}

// Workers start nothing of their own: the socket library that the batch
// thread started serves the whole process.
void BatchRunner::WorkerLoop() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ++idleWorkers_;
      workAvailable_.wait(lock, [this] { return !queue_.empty() || noMoreJobs_; });
      --idleWorkers_;
      if (queue_.empty()) return;
      job = std::move(queue_.front());
      queue_.pop_front();
    }
    const std::uint64_t sequence = job.sequence;
    Result result = Examine(std::move(job));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      results_.emplace(sequence, std::move(result));
    }
    resultFiled_.notify_one();
  }
}

void BatchRunner::Abandon(bool dropInFlight) {
  if (dropInFlight) abandoned_.store(true);
  std::lock_guard<std::mutex> lock(mutex_);
  for (Job& job : queue_) results_.emplace(job.sequence, Result{});
  queue_.clear();
}

void BatchRunner::EndWorkers() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    noMoreJobs_ = true;
  }
  workAvailable_.notify_all();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
}

bool BatchRunner::Run(WorkstationNames& input, OutputStream& output) {
  std::uint64_t written = 0;  // sequences below this are in the file
  bool reading = true;
  std::vector<Result> ready;
  for (;;) {
    if (reading && state_.StopRequested()) {
      // The workstations under examination finish or stop on their own; those
      // not yet begun never will.
      reading = false;
      Abandon(false);
    }
    if (reading && input.AtEnd()) reading = false;
    const bool mayRead = reading && dispatched_ - written < window_;

    // Take out, in order, what is ready to be written; wait for it when there
    // is nothing else to do.
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (!mayRead) {
        if (written == dispatched_) break;
        resultFiled_.wait(lock, [&] { return results_.count(written) != 0; });
      }
      for (auto next = results_.find(written); next != results_.end() && next->first == written;
           next = results_.erase(next), ++written) {
        ready.push_back(std::move(next->second));
      }
    }
    for (const Result& result : ready) {
      if (result.outcome != Outcome::kFinished) {
        // Lines after an unfinished workstation would break input order; the
        // file ends with the last workstation that has all of its lines.
        outOfMemory_ = result.outcome == Outcome::kOutOfMemory;
        Abandon(true);
        return true;
      }
      if (WriteWorkstationLines(output, result.lines) != 0) {
        Abandon(true);
        return false;
      }
      if (services_.observer != nullptr)
        services_.observer->WorkstationWritten(
            {result.name, result.lines, result.result, result.service, result.took});
    }
    ready.clear();

    if (mayRead) {
      const std::string name = input.Next(state_);
      if (!name.empty() && skipped_ < services_.workstationsDone) {
        ++skipped_;  // its lines are in the file already
      } else if (!name.empty() && !Dispatch(name)) {
        outOfMemory_ = true;
        Abandon(true);
        return true;
      }
    }
  }
  return true;
}

}  // namespace

void RunBatch(BatchState& state, const BatchServices& services, std::string inputPath,
              std::string outputPath) {
  const std::unique_ptr<ResultFormat> format = ResultFormatFor(services.layout);
  BatchFiles files;
  if (!OpenBatchFiles(state, services, *format, inputPath, outputPath, &files)) return;
  bool writeFailed = false;
  bool outOfMemory = false;
  {
    BatchRunner batch(state, services, *format);
    WorkstationNames names(files.input.get(), services.workstationList.get());
    writeFailed = !batch.Run(names, *files.output);
    outOfMemory = batch.OutOfMemory();
    // The workers are joined here, before the files are closed.
  }
  CloseBatchFiles(state, &files, writeFailed, inputPath, outputPath);
  if (outOfMemory && state.failed == 0) state.ReportFailure(LoadText(kTextOutOfMemory));
}

}  // namespace glimmora
