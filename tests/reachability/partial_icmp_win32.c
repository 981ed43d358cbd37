/* A library with two of the three echo functions: IcmpCloseHandle is missing.
   Never called; only looked up. */
#include <windows.h>

__declspec(dllexport) HANDLE WINAPI IcmpCreateFile(void) { return INVALID_HANDLE_VALUE; }

__declspec(dllexport) DWORD WINAPI IcmpSendEcho(HANDLE handle, ULONG destination, LPVOID data,
                                                WORD size, LPVOID options, LPVOID reply,
                                                DWORD replySize, DWORD timeout) {
  (void)handle, (void)destination, (void)data, (void)size, (void)options, (void)reply;
  (void)replySize, (void)timeout;
  return 0;
}
