#include "app/window/message_box.h"

#include <utility>

namespace glimmora {

namespace {
// Used on the window's thread only.
MessageBoxFunction& InstalledMessageBox() {
  static MessageBoxFunction installed;
  return installed;
}
int waitCursorDepth = 0;
}  // namespace

int ShowMessageBox(HWND owner, const std::string& text, UINT style) {
  const MessageBoxFunction& installed = InstalledMessageBox();
  if (installed) return installed(owner, text, kApplicationName, style);
  return MessageBoxA(owner, text.c_str(), kApplicationName, style);
}

MessageBoxFunction ReplaceMessageBox(MessageBoxFunction replacement) {
  return std::exchange(InstalledMessageBox(), std::move(replacement));
}

WaitCursor::WaitCursor() noexcept : previous_(SetCursor(LoadCursorA(nullptr, IDC_WAIT))) {
  ++waitCursorDepth;
}

WaitCursor::~WaitCursor() {
  --waitCursorDepth;
  SetCursor(previous_);
}

int WaitCursorDepth() noexcept {
  return waitCursorDepth;
}

}  // namespace glimmora
