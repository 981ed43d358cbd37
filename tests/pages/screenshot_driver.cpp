// glimmora-screenshot.exe: the program as Glimmora.exe runs it, driven into a
// state worth showing, for scripts/screenshots. Not part of the program: it
// reads the registry exports of a sample fleet instead of the network and
// answers every probe, so that a page can be shown with sample rows anywhere.
//
//   GLIMMORA_SCREENSHOT_PAGE   quick, batch or about
//   GLIMMORA_SCREENSHOT_FLEET  folder of registry exports (WORKSTATION.reg)
//   GLIMMORA_SCREENSHOT_NAME   the workstation the Quick Check page checks
//   GLIMMORA_SCREENSHOT_INPUT, GLIMMORA_SCREENSHOT_OUTPUT   the batch's files
//   GLIMMORA_SCREENSHOT_SIZE   the main window's size, "WIDTHxHEIGHT" pixels
//   GLIMMORA_SCREENSHOT_READY  file to write once the page is ready: the main
//                              window's rectangle, "left top right bottom"; the
//                              program ends when READY.done appears
//
// Exit status 0 when the page got ready and the run ended normally; 1 when a
// message box came up, the page never got ready, or nobody said done.
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/glimmora_app.h"
#include "app/main_dialog.h"
#include "inventory/offline/registry_offline.h"
#include "reachability/probe.h"
#include "resources/resource.h"
#include "resources/texts.h"
#include "window/message_box.h"

namespace glimmora {
namespace {

constexpr UINT kTickMs = 100;
constexpr int kPatienceTicks = 600;  // a minute

std::string Setting(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Every workstation answers at once.
class AnsweringProbe : public ReachabilityProbe {
 public:
  int Ping(const std::string& workstation, std::string& resultText) override {
    resultText = "Reply from " + workstation;
    return PingReply;
  }
};

struct Driver {
  std::string page = Setting("GLIMMORA_SCREENSHOT_PAGE");
  std::string readyFile = Setting("GLIMMORA_SCREENSHOT_READY");
  OfflineRegistry fleet{Setting("GLIMMORA_SCREENSHOT_FLEET")};
  AnsweringProbe probe;
  int step = 0;
  int ticks = 0;
  bool ready = false;
  bool failed = false;
};
Driver* driver = nullptr;

HWND Control(const CDialog& page, int id) {
  return GetDlgItem(page.GetSafeHwnd(), id);
}

void SelectTab(CGlimmoraDlg& main, int index) {
  SendMessageA(main.m_TabCtrl.GetSafeHwnd(), TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
  main.ShowSelectedPage();
}

void Resize(CGlimmoraDlg& main) {
  int width = 0;
  int height = 0;
  if (std::sscanf(Setting("GLIMMORA_SCREENSHOT_SIZE").c_str(), "%dx%d", &width, &height) != 2)
    return;
  RECT rect;
  GetWindowRect(main.GetSafeHwnd(), &rect);
  MoveWindow(main.GetSafeHwnd(), rect.left, rect.top, width, height, TRUE);
  // Centred again, as it opened.
  const int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
  const int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 2;
  SetWindowPos(main.GetSafeHwnd(), nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

// Sets the page up; true once it shows what it should.
bool Prepare(CGlimmoraDlg& main, Driver& d) {
  if (d.page == "quick") {
    if (d.step++ == 0) {
      main.m_QuickPage.ReplaceCheckServices(&d.probe, &d.fleet);
      const std::string name = Setting("GLIMMORA_SCREENSHOT_NAME");
      SetWindowTextA(Control(main.m_QuickPage, IDC_WORKSTATION_NAME), name.c_str());
      SendMessageA(Control(main.m_QuickPage, IDC_CHECK), BM_CLICK, 0, 0);
      SetFocus(Control(main.m_QuickPage, IDC_WORKSTATION_NAME));
    }
    return true;
  }
  if (d.page == "batch") {
    if (d.step++ == 0) {
      SelectTab(main, 1);
      main.m_BatchPage.AdjustWorkerServices([&d](BatchServices& services) {
        services.registry = &d.fleet;
        // Slow enough to show the batch under way.
        services.probe = [](const std::string&, std::string&, const Deadline&) {
          Sleep(1500);
          return static_cast<int>(PingReply);
        };
      });
      const std::string input = Setting("GLIMMORA_SCREENSHOT_INPUT");
      const std::string output = Setting("GLIMMORA_SCREENSHOT_OUTPUT");
      SetWindowTextA(Control(main.m_BatchPage, IDC_INPUT_FILE), input.c_str());
      SetWindowTextA(Control(main.m_BatchPage, IDC_OUTPUT_FILE), output.c_str());
      SendMessageA(Control(main.m_BatchPage, IDC_START), BM_CLICK, 0, 0);
      return false;
    }
    // Ready once the status line names a workstation a few lines into the list.
    const std::string status = [&] {
      char text[256] = {};
      GetWindowTextA(Control(main.m_BatchPage, IDC_STATUS), text, sizeof text);
      return std::string(text);
    }();
    return status.rfind(LoadText(kTextChecking), 0) == 0 &&
           TheApp().batchState.linesRead.load() >= 6;
  }
  if (d.step++ == 0) SelectTab(main, 2);
  return true;
}

void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  Driver& d = *driver;
  CGlimmoraDlg* main = TheApp().m_pMainDlg;
  if (main == nullptr) return;
  if (++d.ticks > kPatienceTicks) {
    std::fprintf(stderr, "glimmora-screenshot: gave up waiting\n");
    d.failed = true;
    PostMessageA(main->GetSafeHwnd(), WM_CLOSE, 0, 0);
    return;
  }
  if (!d.ready) {
    if (d.ticks == 1) Resize(*main);
    if (!Prepare(*main, d)) return;
    d.ready = true;
    // A moment for the window to be drawn before it is taken.
    RedrawWindow(main->GetSafeHwnd(), nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT rect;
    GetWindowRect(main->GetSafeHwnd(), &rect);
    if (std::FILE* file = std::fopen(d.readyFile.c_str(), "w")) {
      std::fprintf(file, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right, rect.bottom);
      std::fclose(file);
    }
    return;
  }
  const std::string done = d.readyFile + ".done";
  if (GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES) {
    PostMessageA(main->GetSafeHwnd(), WM_CLOSE, 0, 0);
  }
}

}  // namespace
}  // namespace glimmora

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  using namespace glimmora;
  Driver state;
  driver = &state;
  if (state.readyFile.empty()) {
    std::fprintf(stderr, "glimmora-screenshot: GLIMMORA_SCREENSHOT_READY is not set\n");
    return 2;
  }
  // Nothing may wait for a person.
  ReplaceMessageBox([&state](HWND, const std::string& text, const std::string&, UINT) {
    std::fprintf(stderr, "glimmora-screenshot: message box: %s\n", text.c_str());
    state.failed = true;
    return IDOK;
  });
  SetTimer(nullptr, 0, kTickMs, &Tick);
  TheApp().InitInstance();
  driver = nullptr;
  return state.failed || !state.ready ? 1 : 0;
}
