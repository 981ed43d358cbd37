#include "app_test_support.h"

#include <gtest/gtest.h>

namespace glimmora::testing {

namespace {
TimedSteps* activeSteps = nullptr;
constexpr UINT kTickMs = 20;
constexpr int kWatchdogTicks = 250;  // 5 s after the last step
}  // namespace

Language ExpectedLanguage() {
  return LanguageFromEnvironment();
}

std::string ToAnsi(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int wideLength =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                      wideLength);
  const int length =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, ansi.data(), length, nullptr, nullptr);
  return ansi;
}

std::string ExpectedText(int id) {
  return ToAnsi(TableText(id, ExpectedLanguage()));
}

std::string Localized(std::string_view english, std::string_view japanese) {
  return ToAnsi(ExpectedLanguage() == Language::kJapanese ? japanese : english);
}

std::string WindowText(HWND window) {
  const int length = GetWindowTextLengthA(window);
  std::string text(static_cast<std::size_t>(length) + 1, '\0');
  text.resize(static_cast<std::size_t>(GetWindowTextA(window, text.data(), length + 1)));
  return text;
}

RECT ClientRectOf(HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  return rect;
}

MessageBoxRecorder::MessageBoxRecorder() {
  previous_ = ReplaceMessageBox(
      [this](HWND owner, const std::string& text, const std::string& title, UINT style) {
        boxes_.push_back({owner, text, title, style, WaitCursorDepth()});
        if (onBox) onBox(boxes_.back());
        return IDOK;
      });
}

MessageBoxRecorder::~MessageBoxRecorder() {
  ReplaceMessageBox(std::move(previous_));
}

TimedSteps::TimedSteps(std::vector<Step> steps, std::function<HWND()> watchdogWindow)
    : steps_(std::move(steps)), watchdogWindow_(std::move(watchdogWindow)) {
  activeSteps = this;
  timer_ = SetTimer(nullptr, 0, kTickMs, &TimedSteps::Tick);
}

TimedSteps::~TimedSteps() {
  KillTimer(nullptr, timer_);
  activeSteps = nullptr;
}

void CALLBACK TimedSteps::Tick(HWND, UINT, UINT_PTR, DWORD) {
  if (activeSteps != nullptr) activeSteps->RunNext();
}

void TimedSteps::RunNext() {
  if (running_) return;  // a step's own message loop (a box) may tick again
  running_ = true;
  if (next_ < static_cast<int>(steps_.size())) {
    steps_[static_cast<std::size_t>(next_++)]();
  } else if (++idleTicks_ == kWatchdogTicks) {
    ADD_FAILURE() << "the modal run did not end after its last step";
    if (HWND window = watchdogWindow_()) PostMessageA(window, WM_CLOSE, 0, 0);
  }
  running_ = false;
}

}  // namespace glimmora::testing
