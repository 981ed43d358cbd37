#pragma once
// The system's Open and Save file dialogs, made replaceable like message boxes
// so that tests see what a page asks for and answer in its place.

#include <windows.h>

#include <commdlg.h>

#include <functional>
#include <string>
#include <string_view>

namespace glimmora {

struct FileDialogRequest {
  bool save = false;  // the Save dialog, otherwise the Open dialog
  HWND owner = nullptr;
  std::string filter;  // pairs of description and pattern, NUL-separated, ended by two NULs
  std::string defaultExtension;
  std::string initialName;
  DWORD flags = 0;  // OFN_... as given to the system
};

// Shows the dialog; true with the chosen file's full path when the user confirms.
bool ShowFileDialog(const FileDialogRequest& request, std::string* path);

// What ShowFileDialog calls; by default the system's GetOpenFileNameA/GetSaveFileNameA.
using FileDialogFunction = std::function<bool(const FileDialogRequest& request, std::string* path)>;
// Installs replacement (an empty function restores the system's dialogs); returns the one before.
FileDialogFunction ReplaceFileDialog(FileDialogFunction replacement);

// A filter written as "Text Files (*.txt)|*.txt|All Files (*.*)|*.*||" in the
// NUL-separated form the system reads: every "|" becomes a NUL.
std::string FileDialogFilter(std::string_view barSeparated);

}  // namespace glimmora
