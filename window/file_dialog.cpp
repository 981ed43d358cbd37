#include "window/file_dialog.h"

#include <commdlg.h>

#include <utility>
#include <vector>

namespace glimmora {

namespace {
// Used on the window's thread only.
FileDialogFunction& InstalledFileDialog() {
  static FileDialogFunction installed;
  return installed;
}

// Room for a long path: the dialog reports a longer one as an error rather than cutting it.
constexpr DWORD kPathBufferSize = 32768;

bool ShowSystemFileDialog(const FileDialogRequest& request, std::string* path) {
  std::vector<char> file(kPathBufferSize, '\0');
  request.initialName.copy(file.data(), file.size() - 1);
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = request.owner;
  dialog.lpstrFilter = request.filter.empty() ? nullptr : request.filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file.data();
  dialog.nMaxFile = kPathBufferSize;
  dialog.lpstrDefExt =
      request.defaultExtension.empty() ? nullptr : request.defaultExtension.c_str();
  dialog.Flags = request.flags;
  const BOOL confirmed = request.save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog);
  if (!confirmed) return false;
  *path = file.data();
  return true;
}
}  // namespace

bool ShowFileDialog(const FileDialogRequest& request, std::string* path) {
  const FileDialogFunction& installed = InstalledFileDialog();
  if (installed) return installed(request, path);
  return ShowSystemFileDialog(request, path);
}

FileDialogFunction ReplaceFileDialog(FileDialogFunction replacement) {
  return std::exchange(InstalledFileDialog(), std::move(replacement));
}

std::string FileDialogFilter(std::string_view barSeparated) {
  std::string filter(barSeparated);
  for (char& c : filter) {
    if (c == '|') c = '\0';
  }
  return filter;
}

}  // namespace glimmora
