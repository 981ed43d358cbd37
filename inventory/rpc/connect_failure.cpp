#include "inventory/rpc/connect_failure.h"

#include <algorithm>
#include <array>
#include <utility>

#include "inventory/registry/registry_access.h"
#include "resources/texts.h"

namespace glimmora {
namespace {

using enum ConnectHint;

// The SMB client reports a refused TCP connection as "no memory", and a
// server that went away between the session and the pipe as a reset,
// disconnected or end of file: all read as a path that cannot be reached.
// A missing, unavailable or busy pipe is the service not running; an
// unusable Kerberos ticket comes back as "invalid parameter" or as a code of
// the Kerberos library's own, which the table leaves to the client's mapping.
// The columns: status, code, hint, logon refused, may be starting, ticket may be the cause.
// clang-format off
constexpr std::array kRules{
    ConnectFailureRule{kStatusObjectNameNotFound,      kErrorBadNetPath,    kServiceStopped,      false,  true,   false},
    ConnectFailureRule{kStatusPipeNotAvailable,        kErrorBadNetPath,    kServiceStopped,      false,  true,   false},
    ConnectFailureRule{kStatusPipeBusy,                kErrorBadNetPath,    kServiceStopped,      false,  true,   false},
    ConnectFailureRule{kStatusAccessDenied,            kErrorAccessDenied,  kAdministratorsOnly,  false,  false,  false},
    ConnectFailureRule{kStatusNoMemory,                kErrorBadNetPath,    kNone,                false,  false,  false},
    ConnectFailureRule{kStatusIoTimeout,               kErrorBadNetPath,    kNone,                false,  false,  false},
    ConnectFailureRule{kStatusConnectionReset,         kErrorBadNetPath,    kNone,                false,  true,   true},
    ConnectFailureRule{kStatusConnectionDisconnected,  kErrorBadNetPath,    kNone,                false,  true,   true},
    ConnectFailureRule{kStatusEndOfFile,               kErrorBadNetPath,    kNone,                false,  true,   true},
    ConnectFailureRule{kStatusInvalidParameter,        kErrorInvalidName,   kNone,                false,  false,  true},
    ConnectFailureRule{kStatusNtlmBlocked,             kErrorNtlmBlocked,   kNtlmRefused,         false,  false,  true},
    ConnectFailureRule{kStatusLogonFailure,            kErrorLogonFailure,  kNone,                true,   false,  true},
};
// clang-format on

const ConnectFailureRule* FindRule(std::uint32_t status) {
  const auto found =
      std::find_if(kRules.begin(), kRules.end(),
                   [status](const ConnectFailureRule& rule) { return rule.status == status; });
  return found != kRules.end() ? &*found : nullptr;
}

}  // namespace

std::string HintText(ConnectHint hint) {
  switch (hint) {
    case kServiceStopped:
      return LoadText(kTextHintServiceStopped);
    case kAdministratorsOnly:
      return LoadText(kTextHintAdministratorsOnly);
    case kNtlmRefused:
      return LoadText(kTextHintNtlmRefused);
    case kLogonsStopped:
      return LoadText(kTextHintLogonsStopped);
    case kNone:
      break;
  }
  return {};
}

std::span<const ConnectFailureRule> ConnectFailureRules() {
  return kRules;
}

std::optional<ConnectFailureRule> ClassifyConnectFailure(std::uint32_t status, bool registryPipe) {
  const ConnectFailureRule* rule = FindRule(status);
  if (rule == nullptr) return std::nullopt;
  ConnectFailureRule classified = *rule;
  if (classified.hint == kServiceStopped && !registryPipe) classified.hint = kNone;
  return classified;
}

bool ServiceMayBeStarting(std::uint32_t status) {
  const ConnectFailureRule* rule = FindRule(status);
  return rule != nullptr && rule->mayBeStarting;
}

bool TicketMayBeTheCause(std::uint32_t status) {
  const ConnectFailureRule* rule = FindRule(status);
  return rule == nullptr || rule->ticketMayBeTheCause;
}

std::string CutUtf8(std::string text, std::size_t limit) {
  if (text.size() <= limit) return text;
  std::size_t end = limit;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  text.resize(end);
  return text;
}

std::string DescribeFailure(std::string systemText, ConnectHint hint) {
  if (hint != kNone) {
    if (!systemText.empty()) systemText += ' ';
    systemText += HintText(hint);
  }
  return CutUtf8(std::move(systemText), kMaxMessageBytes);
}

}  // namespace glimmora
