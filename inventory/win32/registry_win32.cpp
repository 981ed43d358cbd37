#include "inventory/win32/registry_win32.h"

#include <windows.h>

#include <optional>

#include "common/deadline.h"
#include "common/unique_handle.h"
#include "inventory/system_messages.h"

namespace glimmora {

namespace {

// On 64-bit Windows HKEY_LOCAL_MACHINE is the sign-extended 0x80000002, not the
// number our portable key type holds for it.
HKEY ToHkey(RegKey key) {
  if (key == kHkeyLocalMachine) return HKEY_LOCAL_MACHINE;
  return reinterpret_cast<HKEY>(key);
}

RegKey FromHkey(HKEY key) {
  return reinterpret_cast<RegKey>(key);
}

struct HkeyTraits {
  using Handle = HKEY;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ::RegCloseKey(h); }
};

// What a connect gave; a key nobody waits for any more is closed with it.
struct Connected {
  LONG code = ERROR_SUCCESS;
  UniqueHandle<HkeyTraits> key;
};

}  // namespace

long Win32Registry::RegConnectRegistryA(const std::string& machineName, RegKey rootKey,
                                        RegKey* result) {
  std::string description;
  return ConnectWithin(machineName, rootKey, Deadline(), result, &description);
}

long Win32Registry::ConnectWithin(const std::string& machineName, RegKey rootKey,
                                  const Deadline& deadline, RegKey* result,
                                  std::string* description) {
  const HKEY root = ToHkey(rootKey);
  std::optional<Connected> connected = CallBeforeDeadline<Connected>(deadline, [machineName, root] {
    Connected outcome;
    HKEY remote = nullptr;
    outcome.code = ::RegConnectRegistryA(machineName.c_str(), root, &remote);
    if (outcome.code == ERROR_SUCCESS) outcome.key.reset(remote);
    return outcome;
  });
  const LONG code = connected ? connected->code : kErrorTimeout;
  *result = code == ERROR_SUCCESS ? FromHkey(connected->key.release()) : kNoKey;
  if (code == ERROR_SUCCESS && !machineName.empty()) remote_.AddConnection(*result);
  if (code != ERROR_SUCCESS) *description = SystemMessageText(code);
  return code;
}

long Win32Registry::RegOpenKeyExA(RegKey key, const std::string& subKey, std::uint32_t options,
                                  std::uint32_t samDesired, RegKey* result) {
  HKEY opened = nullptr;
  const LONG code = ::RegOpenKeyExA(ToHkey(key), subKey.c_str(), options, samDesired, &opened);
  *result = code == ERROR_SUCCESS ? FromHkey(opened) : kNoKey;
  if (code == ERROR_SUCCESS)
    remote_.AddSubkey(key, *result);
  else
    remote_.CallFailed(key, code);
  return code;
}

long Win32Registry::RegEnumKeyExA(RegKey key, std::uint32_t index, std::string* name) {
  char buffer[kMaxKeyNameLength + 1];
  DWORD length = sizeof buffer;
  const LONG code =
      ::RegEnumKeyExA(ToHkey(key), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
  if (code == ERROR_SUCCESS) name->assign(buffer, length);
  if (code != ERROR_SUCCESS && code != ERROR_NO_MORE_ITEMS) remote_.CallFailed(key, code);
  return code;
}

long Win32Registry::RegQueryValueExA(RegKey key, const std::string& valueName, std::uint32_t* type,
                                     std::vector<std::uint8_t>* data) {
  const long code = QueryValue(key, valueName, type, data);
  if (code != ERROR_SUCCESS) remote_.CallFailed(key, code);
  return code;
}

long Win32Registry::QueryValue(RegKey key, const std::string& valueName, std::uint32_t* type,
                               std::vector<std::uint8_t>* data) {
  // Asks the size, then reads; a value that grows in between is asked again.
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD valueType = 0;
    DWORD size = 0;
    LONG code =
        ::RegQueryValueExA(ToHkey(key), valueName.c_str(), nullptr, &valueType, nullptr, &size);
    if (code != ERROR_SUCCESS) return code;
    // One spare byte, so that an empty value still has a buffer to read into.
    data->assign(static_cast<std::size_t>(size) + 1, 0);
    size = static_cast<DWORD>(data->size());
    code = ::RegQueryValueExA(ToHkey(key), valueName.c_str(), nullptr, &valueType, data->data(),
                              &size);
    if (code == ERROR_MORE_DATA) continue;
    if (code != ERROR_SUCCESS) return code;
    data->resize(size);
    *type = valueType;
    return ERROR_SUCCESS;
  }
  return ERROR_MORE_DATA;
}

long Win32Registry::RegCloseKey(RegKey key) {
  // Forgotten first: once closed, the handle's value may be given to another key.
  remote_.Remove(key);
  return ::RegCloseKey(ToHkey(key));
}

bool Win32Registry::ConnectionLost(RegKey key) {
  return remote_.Lost(key);
}

std::string Win32Registry::SystemMessageText(long code) {
  return LocalSystemMessageText(code);
}

}  // namespace glimmora
