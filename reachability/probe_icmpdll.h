#pragma once
// The ICMP echo functions of "ICMP.DLL", loaded at run time. Windows only.

// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <ipexport.h>
// clang-format on

namespace glimmora {

using IcmpCreateFileFunction = HANDLE(WINAPI*)();
using IcmpCloseHandleFunction = BOOL(WINAPI*)(HANDLE);
using IcmpSendEchoFunction = DWORD(WINAPI*)(HANDLE, IPAddr, LPVOID, WORD, PIP_OPTION_INFORMATION,
                                            LPVOID, DWORD, DWORD);

// The entry points found; each looked up on its own, so those found stay set
// when another is missing.
struct IcmpLibrary {
  HMODULE module = nullptr;  // never released: the library stays until the process ends
  IcmpCreateFileFunction create = nullptr;
  IcmpCloseHandleFunction close = nullptr;
  IcmpSendEchoFunction send = nullptr;

  bool Complete() const { return create != nullptr && close != nullptr && send != nullptr; }
};

// Loads the named library and looks up IcmpCreateFile, IcmpCloseHandle and
// IcmpSendEcho in that order. LoadIcmpLibrary does this for "ICMP.DLL".
IcmpLibrary LoadIcmpEntryPoints(const char* libraryName);

// The process-wide entry points, as LoadIcmpLibrary left them.
const IcmpLibrary& LoadedIcmpLibrary();

}  // namespace glimmora
