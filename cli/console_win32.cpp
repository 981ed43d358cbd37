#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "cli/console.h"

namespace glimmora::cli {

namespace {

enum WriteState : LONG { kIdle, kWriting, kEnding };

std::atomic<std::int32_t>* stopFlag = nullptr;
std::atomic<bool> stopSeen{false};
std::atomic<LONG> writeState{kIdle};

// Runs on a thread the console creates for the event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  const bool press = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  if (press && stopFlag != nullptr && !stopSeen.exchange(true)) {
    stopFlag->store(1);
    return TRUE;
  }
  // The second press, or the console going away: the default handler ends
  // the program, once a write under way has reached the file whole.
  for (LONG idle = kIdle; !writeState.compare_exchange_strong(idle, kEnding); idle = kIdle)
    Sleep(1);
  return FALSE;
}

}  // namespace

void SetBinaryMode(std::FILE* stream) {
  _setmode(_fileno(stream), _O_BINARY);
}

std::FILE* DuplicateStandardInput() {
  const int fd = _dup(_fileno(stdin));
  if (fd < 0) return nullptr;
  std::FILE* stream = _fdopen(fd, "rb");
  if (stream == nullptr) _close(fd);
  return stream;
}

std::unique_ptr<OutputStream> StandardOutputStream() {
  HANDLE duplicate = nullptr;
  const HANDLE process = GetCurrentProcess();
  if (!DuplicateHandle(process, GetStdHandle(STD_OUTPUT_HANDLE), process, &duplicate, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return nullptr;
  return std::make_unique<OutputFile>(reinterpret_cast<std::intptr_t>(duplicate));
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

UninterruptedWrite::UninterruptedWrite() {
  // The program is ending: this write is not begun.
  for (LONG idle = kIdle; !writeState.compare_exchange_strong(idle, kWriting); idle = kIdle)
    Sleep(INFINITE);
}

UninterruptedWrite::~UninterruptedWrite() {
  writeState.store(kIdle);
}

// Handles and sockets are not limited per process here.
int JobsWithinFileLimit(int jobs, int /*filesPerJob*/, unsigned long long* limit) {
  *limit = 0;
  return jobs;
}

}  // namespace glimmora::cli
