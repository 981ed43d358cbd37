#include "inventory/rpc/svcctl_messages.h"

#include <algorithm>
#include <utility>

#include "inventory/rpc/ndr_stream.h"
#include "inventory/rpc/winreg_messages.h"

namespace glimmora::svcctl {
namespace {

using ndr::Reader;
using ndr::Writer;

// Any non-zero value marks a present pointer; this one is easy to spot in dumps.
constexpr std::uint32_t kReferentMachineName = 0x00020000;

constexpr std::uint32_t kHighestStartType = static_cast<std::uint32_t>(ServiceStartType::kDisabled);
constexpr std::uint32_t kLowestState = static_cast<std::uint32_t>(ServiceState::kStopped);
constexpr std::uint32_t kHighestState = static_cast<std::uint32_t>(ServiceState::kPaused);

// A zero-terminated UTF-16 string as a conformant varying array: maximum
// count, offset, actual count, then the code units with the zero.
bool WriteString(Writer& w, std::string_view utf8, std::size_t maxUnits) {
  std::u16string text;
  if (!winreg::Utf8ToUtf16(utf8, &text)) return false;
  // The server would read a zero inside as the end of the name.
  if (text.find(u'\0') != std::u16string::npos) return false;
  text.push_back(u'\0');
  if (text.size() > maxUnits) return false;
  const auto units = static_cast<std::uint32_t>(text.size());
  w.U32(units);
  w.U32(0);
  w.U32(units);
  for (char16_t c : text) w.U16(static_cast<std::uint16_t>(c));
  return true;
}

// The array behind a string pointer of the configuration. Its terminating
// zero is dropped; a server that sent none loses nothing.
bool ReadConfigString(Reader& r, std::u16string* text) {
  const std::uint32_t maxCount = r.U32();
  const std::uint32_t offset = r.U32();
  const std::uint32_t actualCount = r.U32();
  if (!r.ok() || offset != 0 || actualCount > maxCount || maxCount > kMaxServiceConfigBytes) {
    return false;
  }
  if (!r.Utf16(actualCount, text)) return false;
  if (!text->empty() && text->back() == u'\0') text->pop_back();
  return true;
}

bool ParseHandleResponse(std::span<const std::uint8_t> stub, HandleResponse* response) {
  Reader r(stub);
  response->handle.bytes = r.Handle();
  response->status = r.U32();
  return r.AtEnd();
}

bool ParseStatusResponse(std::span<const std::uint8_t> stub, ServiceStatusResponse* response) {
  Reader r(stub);
  const std::uint32_t serviceType = r.U32();
  const std::uint32_t state = r.U32();
  const std::uint32_t controlsAccepted = r.U32();
  const std::uint32_t win32ExitCode = r.U32();
  const std::uint32_t serviceSpecificExitCode = r.U32();
  const std::uint32_t checkPoint = r.U32();
  const std::uint32_t waitHint = r.U32();
  const std::uint32_t status = r.U32();
  if (!r.AtEnd()) return false;
  const bool knownState = state >= kLowestState && state <= kHighestState;
  if (status == 0 && !knownState) return false;
  response->service = ServiceStatus{};
  if (knownState) response->service.state = static_cast<ServiceState>(state);
  response->service.waitHintMs = waitHint;
  response->service.checkPoint = checkPoint;
  response->serviceType = serviceType;
  response->controlsAccepted = controlsAccepted;
  response->win32ExitCode = win32ExitCode;
  response->serviceSpecificExitCode = serviceSpecificExitCode;
  response->status = status;
  return true;
}

}  // namespace

bool ScHandle::IsNull() const {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

bool EncodeOpenScManager(std::string_view utf8MachineName, std::uint32_t accessMask,
                         Bytes* request) {
  Writer w;
  if (utf8MachineName.empty()) {
    w.U32(0);
  } else {
    w.U32(kReferentMachineName);
    if (!WriteString(w, utf8MachineName, kMaxMachineNameUnits)) return false;
  }
  w.U32(0);  // no database name: the active one
  w.U32(accessMask);
  *request = w.Take();
  return true;
}

bool EncodeOpenService(const ScHandle& manager, std::string_view utf8ServiceName,
                       std::uint32_t accessMask, Bytes* request) {
  Writer w;
  w.Handle(manager.bytes);
  if (!WriteString(w, utf8ServiceName, kMaxServiceNameUnits)) return false;
  w.U32(accessMask);
  *request = w.Take();
  return true;
}

Bytes EncodeQueryServiceStatus(const ScHandle& service) {
  Writer w;
  w.Handle(service.bytes);
  return w.Take();
}

bool EncodeQueryServiceConfig(const ScHandle& service, std::uint32_t bufferBytes, Bytes* request) {
  if (bufferBytes > kMaxServiceConfigBytes) return false;
  Writer w;
  w.Handle(service.bytes);
  w.U32(bufferBytes);
  *request = w.Take();
  return true;
}

Bytes EncodeChangeStartType(const ScHandle& service, ServiceStartType startType) {
  Writer w;
  w.Handle(service.bytes);
  w.U32(kServiceNoChange);  // service type
  w.U32(static_cast<std::uint32_t>(startType));
  w.U32(kServiceNoChange);  // error control
  w.U32(0);                 // binary path
  w.U32(0);                 // load order group
  w.U32(0);                 // tag id
  w.U32(0);                 // dependencies
  w.U32(0);                 // their size
  w.U32(0);                 // start name (the account)
  w.U32(0);                 // password
  w.U32(0);                 // its size
  w.U32(0);                 // display name
  return w.Take();
}

Bytes EncodeStartService(const ScHandle& service) {
  Writer w;
  w.Handle(service.bytes);
  w.U32(0);  // argument count
  w.U32(0);  // no argument array
  return w.Take();
}

Bytes EncodeControlService(const ScHandle& service, std::uint32_t control) {
  Writer w;
  w.Handle(service.bytes);
  w.U32(control);
  return w.Take();
}

Bytes EncodeCloseServiceHandle(const ScHandle& handle) {
  Writer w;
  w.Handle(handle.bytes);
  return w.Take();
}

bool ParseOpenScManager(std::span<const std::uint8_t> stub, HandleResponse* response) {
  return ParseHandleResponse(stub, response);
}
bool ParseOpenService(std::span<const std::uint8_t> stub, HandleResponse* response) {
  return ParseHandleResponse(stub, response);
}
bool ParseCloseServiceHandle(std::span<const std::uint8_t> stub, HandleResponse* response) {
  return ParseHandleResponse(stub, response);
}

bool ParseQueryServiceStatus(std::span<const std::uint8_t> stub, ServiceStatusResponse* response) {
  return ParseStatusResponse(stub, response);
}
bool ParseControlService(std::span<const std::uint8_t> stub, ServiceStatusResponse* response) {
  return ParseStatusResponse(stub, response);
}

bool ParseQueryServiceConfig(std::span<const std::uint8_t> stub, ServiceConfigResponse* response) {
  Reader r(stub);
  const std::uint32_t serviceType = r.U32();
  const std::uint32_t startType = r.U32();
  const std::uint32_t errorControl = r.U32();
  const std::uint32_t binaryPathPointer = r.U32();
  const std::uint32_t loadOrderGroupPointer = r.U32();
  const std::uint32_t tagId = r.U32();
  const std::uint32_t dependenciesPointer = r.U32();
  const std::uint32_t startNamePointer = r.U32();
  const std::uint32_t displayNamePointer = r.U32();
  // The strings follow the fixed part, in the order of their pointers.
  ServiceConfigResponse config;
  const std::pair<std::uint32_t, std::u16string*> strings[] = {
      {binaryPathPointer, &config.binaryPathName}, {loadOrderGroupPointer, &config.loadOrderGroup},
      {dependenciesPointer, &config.dependencies}, {startNamePointer, &config.serviceStartName},
      {displayNamePointer, &config.displayName},
  };
  for (const auto& [pointer, text] : strings) {
    if (pointer != 0 && !ReadConfigString(r, text)) return false;
  }
  config.bytesNeeded = r.U32();
  config.status = r.U32();
  if (!r.AtEnd()) return false;
  if (startType <= kHighestStartType) {
    config.startType = static_cast<ServiceStartType>(startType);
  } else if (config.status == 0) {
    return false;
  }
  config.serviceType = serviceType;
  config.errorControl = errorControl;
  config.tagId = tagId;
  *response = std::move(config);
  return true;
}

bool ParseChangeServiceConfig(std::span<const std::uint8_t> stub, std::uint32_t* status) {
  Reader r(stub);
  if (r.U32() != 0) r.U32();  // the tag id, when the server answers one
  *status = r.U32();
  return r.AtEnd();
}

bool ParseStartService(std::span<const std::uint8_t> stub, std::uint32_t* status) {
  Reader r(stub);
  *status = r.U32();
  return r.AtEnd();
}

}  // namespace glimmora::svcctl
