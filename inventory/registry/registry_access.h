#pragma once
// The few registry operations the display scan needs, named after the Windows
// functions they stand for. Result codes are Windows error codes: 0 succeeds.
// Back ends: advapi32 on Windows, the Remote Registry protocol, offline
// registry exports, and an in-memory tree for tests.

#include <cstdint>
#include <string>
#include <vector>

#include "common/deadline.h"
#include "common/unique_handle.h"
#include "inventory/registry/service_manager.h"

namespace glimmora {

// An open key of one back end; 0 is no key. Only the back end that gave it
// out knows what it stands for.
using RegKey = std::uintptr_t;
inline constexpr RegKey kNoKey = 0;
inline constexpr RegKey kHkeyLocalMachine = 0x80000002;

inline constexpr std::uint32_t kKeyRead = 0x20019;
// Subkey names live in a 259-character buffer: 258 characters and the zero.
inline constexpr std::size_t kMaxKeyNameLength = 258;

// The Windows error codes the back ends and the scan use.
inline constexpr long kErrorSuccess = 0;
inline constexpr long kErrorFileNotFound = 2;
inline constexpr long kErrorAccessDenied = 5;
inline constexpr long kErrorInvalidHandle = 6;
inline constexpr long kErrorNotEnoughMemory = 8;
inline constexpr long kErrorNotSupported = 50;
inline constexpr long kErrorBadNetPath = 53;
inline constexpr long kErrorInvalidName = 123;
inline constexpr long kErrorMoreData = 234;
inline constexpr long kErrorNoMoreItems = 259;
// "The configuration registry database is corrupt."
inline constexpr long kErrorBadDatabase = 1009;
inline constexpr long kErrorCantRead = 1012;
inline constexpr long kErrorLogonFailure = 1326;
// "This operation returned because the timeout period expired."
inline constexpr long kErrorTimeout = 1460;

// Registry value types.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

class RegistryAccess {
 public:
  virtual ~RegistryAccess() = default;

  // Opens the HKEY_LOCAL_MACHINE (rootKey) of the named workstation.
  virtual long RegConnectRegistryA(const std::string& machineName, RegKey rootKey,
                                   RegKey* result) = 0;
  // The connect of one examination: as RegConnectRegistryA, with the waits of
  // the connect and of every call on the keys opened through it kept within
  // `deadline`. When it fails, *description is the text that describes the
  // code to the user: the system's text, and what the back end knows beyond
  // the code (the service that may be stopped, the file and line at fault).
  // Back ends without waits of their own keep the default.
  virtual long ConnectWithin(const std::string& machineName, RegKey rootKey,
                             const Deadline& deadline, RegKey* result, std::string* description);
  // Opens the key named by a full path below `key`, with options 0 and `samDesired`.
  virtual long RegOpenKeyExA(RegKey key, const std::string& subKey, std::uint32_t options,
                             std::uint32_t samDesired, RegKey* result) = 0;
  // The name of the index-th subkey; kErrorNoMoreItems past the last one;
  // kErrorMoreData when the name is longer than kMaxKeyNameLength.
  virtual long RegEnumKeyExA(RegKey key, std::uint32_t index, std::string* name) = 0;
  // A value's type and its whole data, whatever its length; strings come in
  // the ANSI code page with their terminating zero as the registry keeps them.
  virtual long RegQueryValueExA(RegKey key, const std::string& valueName, std::uint32_t* type,
                                std::vector<std::uint8_t>* data) = 0;
  virtual long RegCloseKey(RegKey key) = 0;

  // The system's text for a code, on one line, in the user's language; empty
  // when there is none.
  virtual std::string SystemMessageText(long code) = 0;

  // Whether the connection the key came through has failed for good (the
  // workstation went away, the link broke), so that a failed call says
  // nothing about the key or value asked for. Registries reached without a
  // connection of their own never lose it.
  virtual bool ConnectionLost(RegKey /*key*/) { return false; }

  // Whether keys the system keeps only in memory (an instance's volatile
  // "Control" key) can be missing from this registry although the workstation
  // has them: so in an export made from a hive file. A live registry has them.
  virtual bool MayLackVolatileKeys() const { return false; }

  // Whether this back end stopped logging on after repeated logon failures
  // (so that an account is not locked out); *account names the account then.
  virtual bool LogonsStopped(std::string* /*account*/) const { return false; }

  // The service manager of the workstations this back end reaches, on the
  // same logon; null when it has none (exports, or a back end that cannot
  // reach it).
  virtual ServiceManagerAccess* ServiceManager() { return nullptr; }
};

// One open key of one back end. Two are the same handle when their keys are:
// an owner compares with "no key" only.
struct OpenRegKey {
  RegistryAccess* access = nullptr;
  RegKey key = kNoKey;
  friend bool operator==(const OpenRegKey& a, const OpenRegKey& b) { return a.key == b.key; }
};
struct OpenRegKeyTraits {
  using Handle = OpenRegKey;
  static Handle Invalid() noexcept { return {}; }
  static void Close(Handle h) noexcept { h.access->RegCloseKey(h.key); }
};

// Owns one open key of one back end; closes it on destruction.
class ScopedRegKey : public UniqueHandle<OpenRegKeyTraits> {
 public:
  ScopedRegKey() noexcept = default;
  ScopedRegKey(RegistryAccess& access, RegKey key) noexcept
      : UniqueHandle(OpenRegKey{&access, key}) {}

  RegKey get() const noexcept { return UniqueHandle::get().key; }
  RegKey release() noexcept { return UniqueHandle::release().key; }
};

}  // namespace glimmora
