#pragma once
// Shared by the shell's tests: the language the run expects, texts in the
// ANSI code page, recorded message boxes and a driver for modal runs.

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "resources/texts.h"
#include "window/message_box.h"

namespace glimmora::testing {

// The language ctest asked for through the locale variables (English unless Japanese).
Language ExpectedLanguage();

// UTF-8 text converted to the ANSI code page, as the program's windows hold it.
std::string ToAnsi(std::string_view utf8);
// The table's text of id in the expected language, in the ANSI code page.
std::string ExpectedText(int id);
// A text the templates carry in English and Japanese, in the expected language.
std::string Localized(std::string_view english, std::string_view japanese);

std::string WindowText(HWND window);
RECT ClientRectOf(HWND window);

struct RecordedBox {
  HWND owner;
  std::string text;
  std::string title;
  UINT style;
  int waitCursorDepth;
};

// Records every message box shown while it lives, answering IDOK; the system's
// box comes back afterwards.
class MessageBoxRecorder {
 public:
  MessageBoxRecorder();
  ~MessageBoxRecorder();
  MessageBoxRecorder(const MessageBoxRecorder&) = delete;
  MessageBoxRecorder& operator=(const MessageBoxRecorder&) = delete;

  const std::vector<RecordedBox>& boxes() const { return boxes_; }
  // Called with each box as it comes up, before it is answered.
  std::function<void(const RecordedBox&)> onBox;

 private:
  std::vector<RecordedBox> boxes_;
  MessageBoxFunction previous_;
};

// Runs steps, one per tick of a thread timer, while something else (a modal run)
// serves the thread's messages. When every step has run and the modal run has not
// ended within a few seconds, the watchdog reports a failure and posts WM_CLOSE to
// the window that watchdogWindow names, so a broken test fails instead of hanging.
class TimedSteps {
 public:
  using Step = std::function<void()>;
  TimedSteps(std::vector<Step> steps, std::function<HWND()> watchdogWindow);
  ~TimedSteps();
  TimedSteps(const TimedSteps&) = delete;
  TimedSteps& operator=(const TimedSteps&) = delete;

  int stepsRun() const { return next_; }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
  void RunNext();

  std::vector<Step> steps_;
  std::function<HWND()> watchdogWindow_;
  int next_ = 0;
  int idleTicks_ = 0;
  bool running_ = false;
  UINT_PTR timer_ = 0;
};

}  // namespace glimmora::testing
