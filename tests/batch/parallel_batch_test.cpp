// Several workstations at once: the output must be the bytes of one after the
// other, whatever order the examinations end in; a stop, a deadline and a
// write failure must leave what they leave in the one-after-the-other run.
// What the runner must do alike inline (one job) and on worker threads is
// tested once for both (BatchJobsTest).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/deadline.h"
#include "tests/batch/limited_output.h"
#include "tests/support/batch_fixture.h"
#include "tests/support/forwarding_registry.h"

namespace glimmora {
namespace {

using namespace std::chrono_literals;
using testing::ReadBytes;

std::string Name(int index) {
  char name[16];
  std::snprintf(name, sizeof name, "WS%04d", index);
  return name;
}

// A delay of 0 to 15 ms that differs from name to name, so that examinations
// end out of input order.
std::chrono::milliseconds DelayFor(const std::string& name) {
  return std::chrono::milliseconds(std::hash<std::string>{}(name) % 16);
}

// The memory registry behind a connect that takes a while, as a network one
// does: the wait ends early at the thread's deadline, as the network back
// end's waits do. Counts how many connects overlap.
class SlowRegistry : public testing::ForwardingRegistry {
 public:
  using ForwardingRegistry::ForwardingRegistry;

  long ConnectWithin(const std::string& machine, RegKey root, const Deadline& deadline,
                     RegKey* result, std::string* description) override {
    const int now = ++connecting_;
    for (int seen = mostAtOnce_.load();
         now > seen && !mostAtOnce_.compare_exchange_weak(seen, now);)
      ;
    if (onConnect) onConnect(machine);
    const auto delay = slowNames_.count(machine) != 0 ? 10s : DelayFor(machine);
    std::this_thread::sleep_for(deadline.TimeLeftWithin(delay));
    --connecting_;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      connectOrder_.push_back(machine);
    }
    if (deadline.Passed()) {
      *result = kNoKey;
      *description = SystemMessageText(1460);
      return 1460;  // ERROR_TIMEOUT, as the network back end gives it
    }
    return ForwardingRegistry::ConnectWithin(machine, root, deadline, result, description);
  }

  // Set before a batch runs, read by its workers.
  void MakeSlow(const std::string& name) { slowNames_[name] = true; }
  void ClearSlow() { slowNames_.clear(); }
  int MostAtOnce() const { return mostAtOnce_.load(); }
  std::vector<std::string> ConnectOrder() {
    std::lock_guard<std::mutex> lock(mutex_);
    return connectOrder_;
  }

  std::function<void(const std::string&)> onConnect;

 private:
  std::map<std::string, bool> slowNames_;
  std::atomic<int> connecting_{0};
  std::atomic<int> mostAtOnce_{0};
  std::mutex mutex_;
  std::vector<std::string> connectOrder_;
};

// What a WatchedOutput saw; it outlives the stream, which the batch closes.
class OutputWatch {
 public:
  bool HasWritten(const std::string& part) {
    std::lock_guard<std::mutex> lock(mutex_);
    return written_.find(part) != std::string::npos;
  }
  int WritesAfterFailure() {
    std::lock_guard<std::mutex> lock(mutex_);
    return writesAfterFailure_;
  }

 private:
  friend class WatchedOutput;
  std::mutex mutex_;
  std::string written_;
  bool failed_ = false;
  int writesAfterFailure_ = 0;
};

// Passes lines on to the file, telling the watch what it was given, and
// counts the writes asked for after the first the file took short.
class WatchedOutput : public OutputStream {
 public:
  WatchedOutput(std::unique_ptr<OutputStream> file, OutputWatch& watch)
      : file_(std::move(file)), watch_(watch) {}
  std::size_t Write(std::string_view bytes) override {
    std::lock_guard<std::mutex> lock(watch_.mutex_);
    if (watch_.failed_) ++watch_.writesAfterFailure_;
    watch_.written_.append(bytes);
    const std::size_t accepted = file_->Write(bytes);
    watch_.failed_ = watch_.failed_ || accepted < bytes.size();
    return accepted;
  }
  bool Close() override { return file_->Close(); }

 private:
  std::unique_ptr<OutputStream> file_;
  OutputWatch& watch_;
};

class ParallelBatchTest : public ::testing::Test, protected testing::BatchRunFixture {
 protected:
  ParallelBatchTest() : slow_(registry_) {
    probe_.delay = DelayFor;
    services_.registry = &slow_;
  }

  // Workstations of every kind, one after another: unreachable, unknown,
  // refusing the registry, without monitors, with equal rows, and with one to
  // three monitors.
  std::string MakeFleet(int count) {
    std::string input = "# the fleet\r\n\r\n";
    for (int i = 0; i < count; ++i) {
      const std::string name = Name(i);
      switch (i % 7) {
        case 0:
          probe_.Answer(name, 2, "(Error: Request timed out (10.1.0." + std::to_string(i) + "))");
          break;
        case 1:
          probe_.Answer(name, 1, "(Error: Could not find host  " + name + ")");
          break;
        case 2:
          registry_.FailConnect(name, kErrorAccessDenied);
          break;
        case 3:
          registry_.AddWorkstation(name).AddKey("SYSTEM\\CurrentControlSet\\Enum\\DISPLAY");
          break;
        case 4: {
          MemoryWorkstation& ws = registry_.AddWorkstation(name);
          testing::AddTestMonitor(ws, "DELD11D", "1", "DELL U2419H", "SN" + name);
          testing::AddTestMonitor(ws, "DELD11D", "2", "dell u2419h",
                                  "sn" + name);  // equal but for case
          testing::AddTestMonitor(ws, "GSM5A49", "3", "LG", "");
          break;
        }
        default: {
          MemoryWorkstation& ws = registry_.AddWorkstation(name);
          for (int m = 0; m <= i % 3; ++m)
            testing::AddTestMonitor(ws, "MON" + std::to_string(m), "4&" + std::to_string(m),
                                    "Model " + name, "S" + std::to_string(m));
        }
      }
      input += (i % 5 == 0 ? "  " : "") + name + (i % 4 == 0 ? ", desk\r\n" : "\n");
      if (i % 50 == 7) input += Name(i - 1) + "\n";  // named twice
    }
    return input;
  }

  std::string RunOnce(int jobs, const std::string& input, const std::string& output) {
    services_.jobs = jobs;
    return RunInto(output, input);
  }

  SlowRegistry slow_;
};

TEST_F(ParallelBatchTest, WritesTheBytesOfOneAfterTheOther) {
  const std::string input = MakeFleet(210);
  const std::string expected = RunOnce(1, input, dir_.File("one.csv"));
  ASSERT_EQ(state_.failed, 0);
  ASSERT_GT(expected.size(), 210 * 40u);

  for (int jobs : {2, 16}) {
    SCOPED_TRACE(jobs);
    const std::string output = dir_.File("jobs-" + std::to_string(jobs) + ".csv");
    EXPECT_EQ(RunOnce(jobs, input, output), expected);
    EXPECT_EQ(state_.failed, 0);
    ExpectCleanEnd();
    EXPECT_EQ(state_.workstationsRead.load(), state_.workstationsFinished.load());
  }
  // The test means something only if the examinations overlapped and ended
  // out of input order.
  EXPECT_GE(slow_.MostAtOnce(), 8);
  const std::vector<std::string> order = slow_.ConnectOrder();
  EXPECT_FALSE(std::is_sorted(order.end() - 100, order.end()));
}

TEST_F(ParallelBatchTest, AStopKeepsTheFinishedWorkstationsUpToTheFirstUnfinished) {
  const std::string input = MakeFleet(60);
  const std::string complete = RunOnce(1, input, dir_.File("complete.csv"));
  // WS0012 holds its registry open until the stop; by then WS0011 is written
  // and several after WS0012 are done.
  OutputWatch watched;
  services_.openOutputFile = [&](const std::string& path,
                                 std::string*) -> std::unique_ptr<OutputStream> {
    return std::make_unique<WatchedOutput>(OpenOutputFile(path), watched);
  };
  slow_.onConnect = [&](const std::string& name) {
    if (name != "WS0012") return;
    const auto giveUp = std::chrono::steady_clock::now() + 20s;
    while (!(watched.HasWritten("\nWS0011,") && state_.workstationsFinished.load() >= 20) &&
           std::chrono::steady_clock::now() < giveUp)
      std::this_thread::sleep_for(1ms);
    state_.RequestStop();
  };

  const std::string stopped = RunOnce(4, input, outputPath_);

  EXPECT_EQ(state_.failed, 0);
  ExpectCleanEnd();
  EXPECT_GE(state_.workstationsFinished.load(), 20u);
  EXPECT_EQ(stopped, complete.substr(0, complete.find("\nWS0012,") + 1));
}

TEST_F(ParallelBatchTest, AWorkstationBeyondItsDeadlineGetsATimedOutLine) {
  const std::string input = MakeFleet(30);
  // One waits in the registry connect, which gives up at the deadline; one in
  // a probe that ignores it (the echo's own waits are bounded).
  slow_.MakeSlow("WS0005");
  probe_.onProbe = [](const std::string& name) {
    if (name == "WS0013") std::this_thread::sleep_for(700ms);
  };
  services_.workstationTimeout = 300ms;

  const auto start = std::chrono::steady_clock::now();
  const std::string parallel = RunOnce(8, input, outputPath_);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_EQ(state_.failed, 0);
  ExpectCleanEnd();

  const std::string note = LoadText(kTextRequestTimedOut) + "(0.3 s))";
  EXPECT_EQ(note, FormatTimedOutNote(300ms));
  for (const std::string& name : {Name(5), Name(13)}) {
    EXPECT_NE(parallel.find("\r\n" + name + ",,,,,,,,,,," + note + "\r\n"), std::string::npos)
        << name;
  }
  // The rest as without a deadline, and one after the other the same.
  EXPECT_EQ(RunOnce(1, input, dir_.File("one.csv")), parallel);
  services_.workstationTimeout = 0ms;
  slow_.ClearSlow();
  probe_.onProbe = nullptr;
  const std::string unlimited = RunOnce(8, input, dir_.File("unlimited.csv"));
  for (const std::string& name : {Name(5), Name(13)}) {
    EXPECT_NE(unlimited.find("\r\n" + name + ",MON0,"), std::string::npos) << name;
    EXPECT_EQ(unlimited.find(name + ",,,,,,,,,,," + note), std::string::npos) << name;
  }
}

// The runner for one job (inline) and for several (worker threads), over the
// same fleet: what both must do alike.
class BatchJobsTest : public ParallelBatchTest, public ::testing::WithParamInterface<int> {};

TEST_P(BatchJobsTest, AStopBeforeTheFirstLineLeavesTheHeaderAlone) {
  state_.RequestStop();
  EXPECT_EQ(RunOnce(GetParam(), MakeFleet(20), outputPath_), FormatHeaderLine());
  ExpectFinished();
  EXPECT_EQ(probe_.CallCount(), 0u);
}

TEST_P(BatchJobsTest, AWriteFailureEndsTheBatchAtOnceWithNothingWrittenAfterIt) {
  const std::string input = MakeFleet(300);
  const std::string complete = RunOnce(1, input, dir_.File("complete.csv"));
  const std::vector<std::string> probesOfACompleteRun = probe_.Calls();
  probe_.ForgetCalls();
  // The disk fills in the middle of WS0020's lines.
  const std::size_t limit = complete.find("\nWS0020,") + 10;
  OutputWatch watched;
  services_.openOutputFile = [&](const std::string& path,
                                 std::string*) -> std::unique_ptr<OutputStream> {
    return std::make_unique<WatchedOutput>(
        std::make_unique<testing::LimitedOutput>(OpenOutputFile(path), limit), watched);
  };

  const std::string written = RunOnce(GetParam(), input, outputPath_);

  ExpectFailure(kTextOutputWriteError);
  EXPECT_EQ(written, complete.substr(0, limit));
  EXPECT_EQ(watched.WritesAfterFailure(), 0);
  // The batch stopped: far from every workstation was probed; one at a time,
  // none after the one whose lines failed.
  EXPECT_LT(probe_.CallCount(), probesOfACompleteRun.size() / 2);
  if (GetParam() == 1) {
    const auto failed =
        std::find(probesOfACompleteRun.begin(), probesOfACompleteRun.end(), Name(20));
    ASSERT_NE(failed, probesOfACompleteRun.end());
    EXPECT_EQ(probe_.Calls(), std::vector<std::string>(probesOfACompleteRun.begin(), failed + 1));
  }
}

// The thread body: the platform start, the batch, the pause, the notification.
TEST_P(BatchJobsTest, TheThreadBodyRunsTheBatchPausesAndNotifiesOnce) {
  const std::string input = MakeFleet(40);
  const std::string expected = RunOnce(1, input, dir_.File("one.csv"));
  state_.inputPath = inputPath_;
  state_.outputPath = outputPath_;
  services_.jobs = GetParam();
  int starts = 0;
  int ends = 0;
  services_.startThread = [&](std::string*) { return ++starts, 0; };
  services_.endThread = [&] { ++ends; };
  services_.finishPause = 20ms;
  const auto begin = std::chrono::steady_clock::now();

  testing::BatchThreadRun thread;
  ASSERT_TRUE(thread.StartAndWait(state_, services_));

  EXPECT_GE(std::chrono::steady_clock::now() - begin, 20ms);
  EXPECT_EQ(thread.notifications(), 1);
  EXPECT_EQ(thread.workstationAtNotify(), "");
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(ends, 1);
  ExpectFinished();
  EXPECT_EQ(ReadBytes(outputPath_), expected);
  if (GetParam() > 1) {
    EXPECT_GE(slow_.MostAtOnce(), 2);
  }
}

INSTANTIATE_TEST_SUITE_P(OneAndEightJobs, BatchJobsTest, ::testing::Values(1, 8),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "Jobs" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace glimmora
