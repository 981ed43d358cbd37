#pragma once
// The reachability probe of the batch tests: answers by workstation name
// (every name not given an answer replies), after the delay `delay` gives a
// name if set; safe to call from several threads at once.

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "batch/batch_worker.h"

namespace glimmora::testing {

class FakeProbe {
 public:
  // Before the batch runs.
  void Answer(const std::string& name, int result, const std::string& text) {
    answers_[name] = {result, text};
  }
  ProbeFunction Function() {
    return [this](const std::string& name, std::string& text, const Deadline&) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(name);
      }
      if (onProbe) onProbe(name);
      if (delay) std::this_thread::sleep_for(delay(name));
      const auto it = answers_.find(name);
      if (it == answers_.end()) {
        text = "Reply from 127.0.0.1: bytes=32 time<1 TTL=128";
        return 0;
      }
      text = it->second.second;
      return it->second.first;
    };
  }
  // The names probed, in the order the probes began.
  std::vector<std::string> Calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  std::size_t CallCount() const { return Calls().size(); }
  void ForgetCalls() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
  }

  std::function<void(const std::string&)> onProbe;
  std::function<std::chrono::milliseconds(const std::string&)> delay;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> calls_;
  std::map<std::string, std::pair<int, std::string>> answers_;
};

}  // namespace glimmora::testing
