#pragma once
// A batch over an in-memory fleet: workstations with monitors in the memory
// registry, the fake probe, an input and an output file in a fresh directory,
// the batch run inline or on the worker thread, and its result read back.

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "batch/batch_worker.h"
#include "batch/csv_format.h"
#include "resources/texts.h"
#include "tests/support/batch_files.h"
#include "tests/support/edid_builder.h"
#include "tests/support/fake_probe.h"
#include "tests/support/registry_memory.h"

namespace glimmora::testing {

// What the registry says of a monitor beside its EDID; by default the
// standard driver's strings.
struct MonitorStrings {
  std::string mfg = "(Standard monitor types)";
  std::string description = "Generic PnP Monitor";
};

// A monitor instance of class Monitor with HardwareID MONITOR\<deviceId> and an
// EDID that names `model` and `serial` (no descriptor for an empty one); `edid`
// gives the block's other fields.
inline MemoryWorkstation& AddTestMonitor(MemoryWorkstation& workstation,
                                         const std::string& deviceId, const std::string& instance,
                                         const std::string& model, const std::string& serial,
                                         const MonitorStrings& strings = {}, EdidSpec edid = {}) {
  edid.model = model;
  edid.serial = serial;
  return workstation.AddMonitor(deviceId, instance, strings.mfg, strings.description, "Monitor",
                                "MONITOR\\" + deviceId, MakeEdid(edid));
}

// The batch's state and services over the memory registry and the fake probe,
// with no pause at the end; a test fixture derives from it beside
// ::testing::Test and changes the services it needs to.
class BatchRunFixture {
 protected:
  BatchRunFixture() {
    services_.probe = probe_.Function();
    services_.registry = &registry_;
    services_.finishPause = std::chrono::milliseconds(0);
  }

  // Writes the input, runs the batch into `output` and gives its bytes.
  std::string RunInto(const std::string& output, std::string_view inputBytes) {
    WriteBytes(inputPath_, inputBytes);
    RunBatch(state_, services_, inputPath_, output);
    return ReadBytes(output);
  }
  std::string RunInput(std::string_view inputBytes) { return RunInto(outputPath_, inputBytes); }

  // The result lines after the header, without their CR LF.
  std::vector<std::string> ResultLines() {
    const std::string bytes = ReadBytes(outputPath_);
    const std::string header = FormatHeaderLine();
    EXPECT_EQ(bytes.substr(0, header.size()), header);
    std::vector<std::string> lines = SplitResultLines(bytes);
    if (!lines.empty()) lines.erase(lines.begin());
    return lines;
  }

  // How every batch ends, whatever ended it: no workstation in hand, every key
  // closed again.
  void ExpectCleanEnd() {
    EXPECT_EQ(state_.CurrentWorkstation(), "");
    EXPECT_TRUE(state_.WorkstationsInFlight().empty());
    EXPECT_EQ(registry_.OpenKeyCount(), 0u);
  }
  // To the end of the input, or stopped: neither is a failure.
  void ExpectFinished() {
    EXPECT_EQ(state_.failed, 0);
    EXPECT_EQ(state_.failureStyle, 0u);
    EXPECT_EQ(state_.failureText, "");
    ExpectCleanEnd();
  }
  void ExpectFailure(int textId) {
    EXPECT_EQ(state_.failed, -1);
    EXPECT_EQ(state_.failureStyle, kFailureStyleError);
    EXPECT_EQ(state_.failureText, LoadText(textId));
    ExpectCleanEnd();
  }

  TempDir dir_;
  std::string inputPath_ = dir_.File("workstations.txt");
  std::string outputPath_ = dir_.File("inventory.csv");
  MemoryRegistry registry_;
  FakeProbe probe_;
  BatchState state_;
  BatchServices services_;
};

// The thread body run on a thread of its own, as the page starts it, up to
// its one notification of the end.
class BatchThreadRun final : public BatchObserver {
 public:
  // Runs the batch of state.inputPath into state.outputPath; false when no
  // notification came within half a minute.
  bool StartAndWait(BatchState& state, BatchServices& services) {
    state_ = &state;
    services.observer = this;
    std::thread worker(BatchThreadProc, std::ref(state), std::cref(services));
    bool notified = false;
    {
      std::unique_lock<std::mutex> guard(lock_);
      notified = finished_.wait_for(guard, std::chrono::seconds(30),
                                    [this] { return notifications_ > 0; });
    }
    worker.join();
    return notified;
  }

  void BatchFinished() override {
    std::lock_guard<std::mutex> guard(lock_);
    notifications_ += 1;
    workstationAtNotify_ = state_->CurrentWorkstation();
    finished_.notify_all();
  }

  int notifications() {
    std::lock_guard<std::mutex> guard(lock_);
    return notifications_;
  }
  std::string workstationAtNotify() {
    std::lock_guard<std::mutex> guard(lock_);
    return workstationAtNotify_;
  }

 private:
  BatchState* state_ = nullptr;
  std::mutex lock_;
  std::condition_variable finished_;
  int notifications_ = 0;
  std::string workstationAtNotify_ = "unset";
};

}  // namespace glimmora::testing
