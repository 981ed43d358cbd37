// The worker thread's own COM apartment and Windows Sockets 2.0 start.
#include <objbase.h>
#include <windows.h>
#include <winsock2.h>

#include <cstdio>

#include "batch/batch_thread.h"

namespace glimmora {

namespace {

// Whether this thread's CoInitialize succeeded and wants its CoUninitialize.
thread_local bool comInitialised = false;

std::string SystemText(int code) {
  char text[259] = {};
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
      nullptr, static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() &&
         (message.back() == ' ' || message.back() == '\r' || message.back() == '\n'))
    message.pop_back();
  return message;
}

}  // namespace

int StartWorkerThreadServices(std::string* failureText) {
  comInitialised = SUCCEEDED(CoInitialize(nullptr));
  WSADATA data;
  const int result = WSAStartup(MAKEWORD(2, 0), &data);
  if (result != 0) {
    // The same shape as the registry's error texts, with the system's own
    // description in the user's language.
    char text[512];
    std::snprintf(text, sizeof text, "WSAStartup : Code=%d Desc=%s", result,
                  SystemText(result).c_str());
    *failureText = text;
  }
  return result;
}

void EndWorkerThreadServices() {
  // Harmless when the start failed: the socket library then just says so.
  WSACleanup();
  if (comInitialised) CoUninitialize();
  comInitialised = false;
}

}  // namespace glimmora
