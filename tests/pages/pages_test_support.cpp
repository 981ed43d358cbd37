#include "tests/pages/pages_test_support.h"

#include <gtest/gtest.h>

#include <cctype>

namespace glimmora::testing {

namespace {
std::string ItemText(HWND list, int item, int column) {
  std::vector<char> buffer(1024, '\0');
  LVITEMA request{};
  request.iSubItem = column;
  request.pszText = buffer.data();
  request.cchTextMax = static_cast<int>(buffer.size());
  const LRESULT length = SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
                                      reinterpret_cast<LPARAM>(&request));
  return std::string(buffer.data(), static_cast<std::size_t>(length > 0 ? length : 0));
}
}  // namespace

std::vector<std::vector<std::string>> ListRows(HWND list) {
  std::vector<std::vector<std::string>> rows;
  const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int item = 0; item < count; ++item) {
    std::vector<std::string> row;
    for (int column = 0; column < 10; ++column) row.push_back(ItemText(list, item, column));
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<std::string> ListColumn(HWND list, int column) {
  std::vector<std::string> texts;
  const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int item = 0; item < count; ++item) texts.push_back(ItemText(list, item, column));
  return texts;
}

std::vector<LPARAM> ListItemValues(HWND list) {
  std::vector<LPARAM> values;
  const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  for (int item = 0; item < count; ++item) {
    LVITEMA request{};
    request.mask = LVIF_PARAM;
    request.iItem = item;
    SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&request));
    values.push_back(request.lParam);
  }
  return values;
}

int CompareAsciiNoCase(const std::string& a, const std::string& b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const int x = std::tolower(static_cast<unsigned char>(a[i]));
    const int y = std::tolower(static_cast<unsigned char>(b[i]));
    if (x != y) return x - y;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool IsOrdered(const std::vector<std::string>& texts, bool ascending) {
  for (std::size_t i = 1; i < texts.size(); ++i) {
    const int order = CompareAsciiNoCase(texts[i - 1], texts[i]);
    if (ascending ? order > 0 : order < 0) return false;
  }
  return true;
}

int DialogUnitsX(HWND dialog, int units) {
  RECT rect{units, 0, 0, 0};
  MapDialogRect(dialog, &rect);
  return rect.left;
}

int DialogUnitsY(HWND dialog, int units) {
  RECT rect{0, units, 0, 0};
  MapDialogRect(dialog, &rect);
  return rect.top;
}

std::string TextOf(HWND window) {
  return WindowText(window);
}

void ClickAt(HWND window, const RECT& rect) {
  const LPARAM point = MAKELPARAM((rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2);
  SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, point);
  SendMessageA(window, WM_LBUTTONUP, 0, point);
}

namespace {
FocusRequests* activeFocusRequests = nullptr;
}  // namespace

FocusRequests::FocusRequests() {
  activeFocusRequests = this;
  hook_ = SetWindowsHookExA(WH_CBT, &FocusRequests::Hook, nullptr, GetCurrentThreadId());
}

FocusRequests::~FocusRequests() {
  if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
  activeFocusRequests = nullptr;
}

LRESULT CALLBACK FocusRequests::Hook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_SETFOCUS && activeFocusRequests != nullptr) {
    activeFocusRequests->requested_.push_back(reinterpret_cast<HWND>(wParam));
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool FocusRequests::Requested(HWND window) const {
  for (HWND requested : requested_) {
    if (requested == window) return true;
  }
  return false;
}

MainWindowFixture::MainWindowFixture() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_WIN95_CLASSES};
  InitCommonControlsEx(&controls);
  created_ = dlg.Create(nullptr);
}

MainWindowFixture::~MainWindowFixture() = default;

}  // namespace glimmora::testing
