#include "window/message_box.h"

#include <utility>
#include <vector>

namespace glimmora {

namespace {
// Used on the window's thread only.
MessageBoxFunction& InstalledMessageBox() {
  static MessageBoxFunction installed;
  return installed;
}
// The cursors the begun wait cursors replaced, innermost last.
std::vector<HCURSOR>& ReplacedCursors() {
  static std::vector<HCURSOR> replaced;
  return replaced;
}
}  // namespace

int ShowMessageBox(HWND owner, const std::string& text, UINT style) {
  const MessageBoxFunction& installed = InstalledMessageBox();
  if (installed) return installed(owner, text, kApplicationName, style);
  return MessageBoxA(owner, text.c_str(), kApplicationName, style);
}

MessageBoxFunction ReplaceMessageBox(MessageBoxFunction replacement) {
  return std::exchange(InstalledMessageBox(), std::move(replacement));
}

void BeginWaitCursor() noexcept {
  try {
    ReplacedCursors().push_back(SetCursor(LoadCursorA(nullptr, IDC_WAIT)));
  } catch (...) {
    // Without memory the cursor just stays as it is.
  }
}

void EndWaitCursor() noexcept {
  std::vector<HCURSOR>& replaced = ReplacedCursors();
  if (replaced.empty()) return;
  SetCursor(replaced.back());
  replaced.pop_back();
}

int WaitCursorDepth() noexcept {
  return static_cast<int>(ReplacedCursors().size());
}

}  // namespace glimmora
