#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "cli/console.h"

namespace glimmora::cli {

namespace {

std::atomic<std::int32_t>* stopFlag = nullptr;
std::atomic<bool> stopSeen{false};

// Runs on a thread the console creates for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  // The second press goes to the default handler, which ends the program.
  if (stopFlag == nullptr || stopSeen.exchange(true)) return FALSE;
  stopFlag->store(1);
  return TRUE;
}

}  // namespace

void SetBinaryMode(std::FILE* stream) {
  _setmode(_fileno(stream), _O_BINARY);
}

bool MoveFileOver(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool IsTerminal(std::FILE* stream) {
  return _isatty(_fileno(stream)) != 0;
}

void InstallStopRequests(std::atomic<std::int32_t>* flag) {
  stopFlag = flag;
  stopSeen = false;
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

void RestoreStopRequests() {
  SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  stopFlag = nullptr;
}

}  // namespace glimmora::cli
