#include "cli/batch_progress.h"

#include <cstdio>

#include "cli/console.h"
#include "cli/display_width.h"
#include "common/ansi_text.h"
#include "resources/texts.h"

namespace glimmora::cli {

namespace {

// Names of workstations under examination shown on the progress line.
constexpr std::size_t kNamesShownInFlight = 3;

std::string Elapsed(std::chrono::steady_clock::duration duration) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(duration).count();
  char text[32];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  else
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  return text;
}

constexpr std::size_t kShownNameBytes = 256;

std::string SecondsText(std::chrono::steady_clock::duration duration) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", std::chrono::duration<double>(duration).count());
  return text;
}

std::string Number(std::uint64_t value) {
  return std::to_string(value);
}

}  // namespace

std::string ShownName(std::string_view name) {
  return ShortPrintableText(name, kShownNameBytes);
}

std::string SummaryText(const BatchSummary& summary) {
  std::string text = "Workstations examined: " + Number(summary.examined) + " (with monitors " +
                     Number(summary.withMonitors) + ", without monitor information " +
                     Number(summary.withoutMonitorInfo) + ", failed " + Number(summary.Failed()) +
                     ")\n";
  if (summary.keptFromEarlierRun > 0)
    text += "Kept from the earlier run: " + Number(summary.keptFromEarlierRun) + " workstations\n";
  text += "Failed: not found " + Number(summary.notFound) + ", no reply " +
          Number(summary.noReply) + ", registry refused or unreachable " +
          Number(summary.registryUnreachable) + ", access denied " +
          Number(summary.registryDenied) + ", timed out " + Number(summary.timedOut) + "\n";
  text += "Monitors written: " + Number(summary.monitorsWritten) + "\n";
  if (!summary.slowestWorkstation.empty())
    text += "Slowest: " + ShownName(summary.slowestWorkstation) + " (" +
            SecondsText(summary.slowest) + ")\n";
  if (summary.servicesAsked)
    text += "Remote Registry services: running " + Number(summary.servicesRunning) +
            ", started and put back " + Number(summary.servicesStartedRestored) + ", not started " +
            Number(summary.servicesStartFailed) + ", not put back " +
            Number(summary.servicesRestoreFailed) + "\n";
  text += "Elapsed: " + SecondsText(summary.elapsed) + "\n";
  return text;
}

ProgressDisplay::ProgressDisplay(const BatchState& state, bool parallel)
    : state_(state),
      parallel_(parallel),
      terminal_(IsTerminal(stderr)),
      start_(std::chrono::steady_clock::now()) {}

void ProgressDisplay::Show() {
  if (parallel_) return ShowParallel();
  const std::string workstation = ShownName(ExaminedWorkstation());
  if (!terminal_) {
    if (!workstation.empty() && workstation != lastWorkstation_)
      std::fprintf(stderr, "%s%s\n", LoadText(kTextChecking).c_str(), workstation.c_str());
    lastWorkstation_ = workstation;
    return;
  }
  Draw(workstation.empty() ? std::string() : "  " + LoadText(kTextChecking) + workstation);
}

void ProgressDisplay::Stopping(std::chrono::milliseconds timeout) {
  std::vector<std::string> waiting;
  if (parallel_) {
    waiting = state_.WorkstationsInFlight();
  } else if (const std::string name = ExaminedWorkstation(); !name.empty()) {
    waiting.push_back(name);
  }
  std::string message = "glimmora batch: stopping";
  if (!waiting.empty()) {
    message += waiting.size() == 1 ? "; waiting for the workstation under examination:"
                                   : "; waiting for the " + std::to_string(waiting.size()) +
                                         " workstations under examination:";
    for (std::size_t i = 0; i < waiting.size() && i < kNamesShownInFlight; ++i)
      message += " " + ShownName(waiting[i]);
    if (waiting.size() > kNamesShownInFlight) message += " ...";
    if (timeout.count() > 0)
      message += " (at most " + std::to_string((timeout.count() + 999) / 1000) + " s)";
  }
  message += ". Ctrl-C again ends the program at once; the finished workstations stay.";
  if (terminal_ && lastWidth_ > 0) std::fputs("\n", stderr);
  lastWidth_ = 0;
  std::fprintf(stderr, "%s\n", message.c_str());
  std::fflush(stderr);
}

void ProgressDisplay::Finish() {
  if (!terminal_) return;
  Draw({});
  std::fputs("\n", stderr);
}

std::string ProgressDisplay::ExaminedWorkstation() const {
  // The worker records the name before it counts it as read, so a count
  // read here covers the name read after it.
  const std::uint64_t read = state_.workstationsRead.load();
  const std::uint64_t finished = state_.workstationsFinished.load();
  if (finished >= read) return {};
  return state_.CurrentWorkstation();
}

void ProgressDisplay::ShowParallel() {
  std::vector<std::string> inFlight = state_.WorkstationsInFlight();
  for (std::string& name : inFlight) name = ShownName(name);
  std::string checking;
  if (!inFlight.empty()) {
    char count[32];
    std::snprintf(count, sizeof count, "  (%zu) ", inFlight.size());
    checking = count + LoadText(kTextChecking);
    for (std::size_t i = 0; i < inFlight.size() && i < kNamesShownInFlight; ++i)
      checking += (i == 0 ? "" : " ") + inFlight[i];
    if (inFlight.size() > kNamesShownInFlight) checking += " ...";
  }
  if (terminal_) return Draw(checking);
  const std::string first = inFlight.empty() ? std::string() : inFlight.front();
  if (!first.empty() && first != lastWorkstation_)
    std::fprintf(stderr, "%s%s\n", Head().c_str(), checking.c_str());
  lastWorkstation_ = first;
}

std::string ProgressDisplay::Head() const {
  char head[96];
  const std::string elapsed = Elapsed(std::chrono::steady_clock::now() - start_);
  if (parallel_)
    std::snprintf(head, sizeof head, "[%llu/%llu] %s",
                  static_cast<unsigned long long>(state_.workstationsFinished.load()),
                  static_cast<unsigned long long>(state_.workstationsRead.load()), elapsed.c_str());
  else
    std::snprintf(head, sizeof head, "[%llu] %s",
                  static_cast<unsigned long long>(state_.linesRead.load()), elapsed.c_str());
  return head;
}

void ProgressDisplay::Draw(const std::string& checking) {
  const std::string head = Head();
  std::string line = head + checking;
  const std::size_t width = line.size();
  // Blanks over what is left of a longer previous line.
  if (width < lastWidth_) line.append(lastWidth_ - width, ' ');
  lastWidth_ = width;
  std::fprintf(stderr, "\r%s", line.c_str());
  std::fflush(stderr);
}

void ConsoleObserver::WorkstationWritten(const WrittenWorkstation& written) {
  if (!written.lines.empty()) {
    summary_->Add(written.name, written.result, written.lines.size(), written.took);
    summary_->AddService(written.service);
  }
  if (merged_ != nullptr) merged_->Collect(written.name, written.result, written.lines);
}

void ConsoleObserver::BatchFinished() {
  std::lock_guard<std::mutex> guard(lock_);
  finished_ = true;
  finishSignal_.notify_all();
}

bool ConsoleObserver::WaitFinished(std::chrono::milliseconds period) {
  std::unique_lock<std::mutex> guard(lock_);
  return finishSignal_.wait_for(guard, period, [this] { return finished_; });
}

}  // namespace glimmora::cli
