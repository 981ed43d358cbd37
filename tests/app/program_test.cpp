// Glimmora.exe itself, started as its own process under Wine: it opens its main
// window in the user's language, reports a missing echo service once before it,
// and ends cleanly when the window closes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "app_test_support.h"
#include "resources/resource.h"

namespace glimmora {
namespace {

using testing::ExpectedText;
using testing::Localized;
using testing::WindowText;

constexpr DWORD kPollMs = 50;
constexpr DWORD kPatienceMs = 30000;

std::string ProgramPath() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string program(path, length);
  return program.substr(0, program.find_last_of("\\/") + 1) + "Glimmora.exe";
}

// A copy of Glimmora.exe under a name of its own for which Wine loads no ICMP.DLL
// (a per-program DLL override in the prefix's registry); removed again at the end.
class ProgramWithoutEchoService {
 public:
  ProgramWithoutEchoService() {
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const std::string name = "GlimmoraNoEcho" + std::to_string(GetCurrentProcessId()) + ".exe";
    path_ = std::string(temp) + name;
    key_ = "Software\\Wine\\AppDefaults\\" + name;
    HKEY overrides = nullptr;
    ready_ = CopyFileA(ProgramPath().c_str(), path_.c_str(), FALSE) &&
             RegCreateKeyExA(HKEY_CURRENT_USER, (key_ + "\\DllOverrides").c_str(), 0, nullptr, 0,
                             KEY_SET_VALUE, nullptr, &overrides, nullptr) == ERROR_SUCCESS;
    if (overrides != nullptr) {
      // An empty load order: the DLL is not loaded at all.
      ready_ = ready_ && RegSetValueExA(overrides, "icmp", 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(""), 1) == ERROR_SUCCESS;
      RegCloseKey(overrides);
    }
  }
  ~ProgramWithoutEchoService() {
    RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
    DeleteFileA(path_.c_str());
  }
  bool ready() const { return ready_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string key_;
  bool ready_ = false;
};

struct TopWindows {
  HWND main = nullptr;      // the dialog with the tab strip
  std::vector<HWND> boxes;  // every other visible dialog titled "Glimmora"
};

TopWindows FindWindowsOf(DWORD processId) {
  struct Search {
    DWORD processId;
    TopWindows found;
  } search{processId, {}};
  EnumWindows(
      [](HWND window, LPARAM context) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(context);
        DWORD owner = 0;
        GetWindowThreadProcessId(window, &owner);
        char className[64] = {};
        GetClassNameA(window, className, sizeof className);
        if (owner != s.processId || !IsWindowVisible(window) ||
            std::string(className) != "#32770" || WindowText(window) != "Glimmora") {
          return TRUE;
        }
        if (FindWindowExA(window, nullptr, "SysTabControl32", nullptr) != nullptr) {
          s.found.main = window;
        } else {
          s.found.boxes.push_back(window);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Started Glimmora.exe, ended on destruction if it still runs.
class RunningProgram {
 public:
  explicit RunningProgram(const std::string& path) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string commandLine = "\"" + path + "\"";
    started_ = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &process_) != FALSE;
  }
  ~RunningProgram() {
    if (!started_) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(process_.hProcess, 99);
      WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
  }
  bool started() const { return started_; }
  DWORD id() const { return process_.dwProcessId; }
  bool Exited() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }
  // Exit code once it ends within the patience, otherwise STILL_ACTIVE.
  DWORD WaitForExit() const {
    WaitForSingleObject(process_.hProcess, kPatienceMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
  }

 private:
  bool started_ = false;
  PROCESS_INFORMATION process_{};
};

// Watches the program until its main window shows; answers each message box with
// OK and collects its text.
HWND WaitForMainWindow(const RunningProgram& program, std::vector<std::string>& boxTexts) {
  std::set<HWND> answered;
  for (DWORD waited = 0; waited < kPatienceMs && !program.Exited(); waited += kPollMs) {
    const TopWindows windows = FindWindowsOf(program.id());
    if (windows.main != nullptr) return windows.main;
    for (HWND box : windows.boxes) {
      if (!answered.insert(box).second) continue;
      char text[512] = {};
      DWORD_PTR ignored;
      SendMessageTimeoutA(GetDlgItem(box, 0xFFFF), WM_GETTEXT, sizeof text,
                          reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000, &ignored);
      boxTexts.emplace_back(text);
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    Sleep(kPollMs);
  }
  return nullptr;
}

// The Quick Check page's label, as the running program shows it.
std::string QuickCheckLabel(HWND main) {
  for (HWND page = FindWindowExA(main, nullptr, "#32770", nullptr); page != nullptr;
       page = FindWindowExA(main, page, "#32770", nullptr)) {
    if (HWND name = GetDlgItem(page, IDC_WORKSTATION_NAME)) {
      return WindowText(GetWindow(name, GW_HWNDNEXT));
    }
  }
  return "(no Quick Check page)";
}

TEST(Program, OpensInTheUsersLanguageAndEndsWhenTheWindowCloses) {
  RunningProgram program(ProgramPath());
  ASSERT_TRUE(program.started());
  std::vector<std::string> boxes;
  HWND main = WaitForMainWindow(program, boxes);
  ASSERT_NE(main, nullptr) << "no main window";
  EXPECT_TRUE(boxes.empty()) << "Wine's echo service should load: " << boxes[0];
  EXPECT_EQ(QuickCheckLabel(main), Localized("Workstation Name", "ワークステーション名"));

  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
}

TEST(Program, WithoutTheEchoServiceReportsItOnceBeforeTheMainWindow) {
  ProgramWithoutEchoService copy;
  ASSERT_TRUE(copy.ready());
  RunningProgram program(copy.path());
  ASSERT_TRUE(program.started());
  std::vector<std::string> boxes;
  HWND main = WaitForMainWindow(program, boxes);
  ASSERT_NE(main, nullptr) << "no main window";
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], ExpectedText(kTextIcmpLoadError));

  // No second report once the window runs.
  Sleep(300);
  EXPECT_TRUE(FindWindowsOf(program.id()).boxes.empty());
  PostMessageA(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(program.WaitForExit(), 0u);
}

}  // namespace
}  // namespace glimmora
