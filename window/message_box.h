#pragma once
// Message boxes and the wait cursor, the modal parts of the pages' work, made
// replaceable so that tests drive every page in-process: a test installs a
// function that records each box instead of blocking on it.

#include <windows.h>

#include <functional>
#include <string>

namespace glimmora {

// The application's name: the title of every message box.
inline constexpr char kApplicationName[] = "Glimmora";

// Shows text in a modal box owned by owner (null for none) with the application's
// name as title; style names the icon and buttons (MB_ICONERROR | MB_OK ...).
// Returns the id of the button that closed it.
int ShowMessageBox(HWND owner, const std::string& text, UINT style);

// What ShowMessageBox calls; by default the system's MessageBoxA.
using MessageBoxFunction =
    std::function<int(HWND owner, const std::string& text, const std::string& title, UINT style)>;
// Installs replacement (an empty function restores the system's box); returns the one before.
MessageBoxFunction ReplaceMessageBox(MessageBoxFunction replacement);

// The wait cursor for the length of a synchronous operation on the window's
// thread: IDC_WAIT from BeginWaitCursor on, the cursor from before restored by
// the matching EndWaitCursor. Calls nest; an End without a Begin does nothing.
void BeginWaitCursor() noexcept;
void EndWaitCursor() noexcept;

// BeginWaitCursor for the life of a scope.
class CWaitCursor {
 public:
  CWaitCursor() noexcept { BeginWaitCursor(); }
  ~CWaitCursor() { EndWaitCursor(); }
  CWaitCursor(const CWaitCursor&) = delete;
  CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// How many wait cursors are on: lets a replaced message box see whether it came
// up under the wait cursor.
int WaitCursorDepth() noexcept;

}  // namespace glimmora
