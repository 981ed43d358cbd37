#include "app/glimmora_app.h"

#include <winsock2.h>

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <utility>

#include "app/main_dialog.h"
#include "reachability/probe.h"
#include "resources/texts.h"
#include "window/message_box.h"

namespace glimmora {

namespace {
// The list-view, tree-view, bar, tab, up-down, progress, hot-key and animation classes.
constexpr DWORD kCommonControlClasses = ICC_WIN95_CLASSES;
static_assert(kCommonControlClasses == 0xFF);
}  // namespace

CGlimmoraApp::CGlimmoraApp() noexcept : loadIcmpLibrary_(&LoadIcmpLibrary) {}

CGlimmoraApp::IcmpLoader CGlimmoraApp::ReplaceIcmpLoader(IcmpLoader loader) noexcept {
  return std::exchange(loadIcmpLibrary_, loader);
}

bool CGlimmoraApp::InitInstance() {
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = kCommonControlClasses;
  InitCommonControlsEx(&controls);

  // Neither result is examined: a failure shows later, where a name cannot be
  // resolved. COM stays initialised for the life of the process.
  CoInitialize(nullptr);
  WSADATA sockets;
  WSAStartup(MAKEWORD(2, 0), &sockets);

  // Without the echo service the program still works; each probe then says so.
  if (loadIcmpLibrary_() != 0) {
    ShowMessageBox(nullptr, LoadText(kTextIcmpLoadError), MB_ICONERROR | MB_OK);
  }

  batchState.running = 0;
  quickListSort = MonitorSortState{};

  {
    CGlimmoraDlg mainWindow;
    mainWindow.RunModal();
    WSACleanup();
  }
  // The main window and its pages are gone; nothing may reach them any more.
  m_pMainDlg = nullptr;
  m_pQuickList = nullptr;
  return false;
}

CGlimmoraApp& TheApp() {
  static CGlimmoraApp app;
  return app;
}

}  // namespace glimmora
