// A service of the tests' own making for the service manager tests: it starts
// and stops as a real one does, through start and stop pending states that
// last a moment, so that a caller must poll for the state it waits for.
#include <windows.h>

namespace {

constexpr DWORD kPendingMs = 200;

SERVICE_STATUS_HANDLE statusHandle = nullptr;
HANDLE stopRequested = nullptr;

void Report(DWORD state, DWORD checkPoint, DWORD waitHintMs) {
  SERVICE_STATUS status{};
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = NO_ERROR;
  status.dwCheckPoint = checkPoint;
  status.dwWaitHint = waitHintMs;
  SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
      Report(SERVICE_STOP_PENDING, 1, kPendingMs * 10);
      SetEvent(stopRequested);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

void WINAPI ServiceMain(DWORD, char** argv) {
  statusHandle = RegisterServiceCtrlHandlerExA(argv[0], Handler, nullptr);
  if (!statusHandle) return;
  stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  Report(SERVICE_START_PENDING, 1, kPendingMs * 10);
  Sleep(kPendingMs);
  Report(SERVICE_RUNNING, 0, 0);
  WaitForSingleObject(stopRequested, INFINITE);
  Sleep(kPendingMs);
  CloseHandle(stopRequested);
  Report(SERVICE_STOPPED, 0, 0);
}

}  // namespace

int main() {
  // A service of its own process: the manager ignores the name.
  char name[] = "";
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : static_cast<int>(GetLastError());
}
