#pragma once
// What a failed open of a workstation's named pipe means to the user: the
// NTSTATUS the SMB client gives, as the Windows code the program reports and
// a hint where the code alone would not tell what to do. Portable: no SMB
// client is needed to read the table.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace glimmora {

// NTSTATUS values the connect tells apart.
inline constexpr std::uint32_t kStatusInvalidParameter = 0xC000000D;
inline constexpr std::uint32_t kStatusEndOfFile = 0xC0000011;
inline constexpr std::uint32_t kStatusNoMemory = 0xC0000017;
inline constexpr std::uint32_t kStatusAccessDenied = 0xC0000022;
inline constexpr std::uint32_t kStatusObjectNameNotFound = 0xC0000034;
inline constexpr std::uint32_t kStatusLogonFailure = 0xC000006D;
inline constexpr std::uint32_t kStatusPipeNotAvailable = 0xC00000AC;
inline constexpr std::uint32_t kStatusPipeBusy = 0xC00000AE;
inline constexpr std::uint32_t kStatusIoTimeout = 0xC00000B5;
inline constexpr std::uint32_t kStatusConnectionDisconnected = 0xC000020C;
// The facility of the faults a server answers (RPC_NT_ statuses).
inline constexpr std::uint32_t kRpcFacilityError = 0xC0020000;
inline constexpr std::uint32_t kStatusConnectionReset = 0xC000020D;
inline constexpr std::uint32_t kStatusNtlmBlocked = 0xC0000418;

// ERROR_AUTHENTICATION_FIREWALL_FAILED: the workstation refuses NTLM logons.
inline constexpr long kErrorNtlmBlocked = 1937;
// ERROR_REQUEST_ABORTED: no more logons are tried after failures in a row.
inline constexpr long kErrorRequestAborted = 1235;

// Why a connect failed, when the code alone would not tell the user what to
// do: a text added to the failure's description.
enum class ConnectHint {
  kNone,
  kServiceStopped,
  kAdministratorsOnly,
  kNtlmRefused,
  kLogonsStopped,
};

std::string HintText(ConnectHint hint);

// One row of the table.
struct ConnectFailureRule {
  std::uint32_t status;
  long code;
  ConnectHint hint;
  // The logon itself was refused: it counts towards the failures in a row.
  bool logonRefused;
  // A service that Windows starts on the first open of its pipe may still be
  // starting: the open is worth one more try.
  bool mayBeStarting;
  // A Kerberos ticket the client could not use may be the cause, so the
  // credential cache is worth looking at.
  bool ticketMayBeTheCause;
};

std::span<const ConnectFailureRule> ConnectFailureRules();

// The row of a status; nullopt for a status the table leaves to the SMB
// client's own mapping. The service hint is given for the registry's pipe
// only: the service manager's is always there.
std::optional<ConnectFailureRule> ClassifyConnectFailure(std::uint32_t status, bool registryPipe);

// The two columns for any status: a status the table does not list is no
// sign of a starting service, and may come from an unusable ticket.
bool ServiceMayBeStarting(std::uint32_t status);
bool TicketMayBeTheCause(std::uint32_t status);

// The longest system message text the scan keeps (its buffer holds 259 bytes).
inline constexpr std::size_t kMaxMessageBytes = 258;

// Cuts UTF-8 text to at most `limit` bytes without splitting a character.
std::string CutUtf8(std::string text, std::size_t limit);

// A failure's description: the system's text of its code with the hint added,
// cut to what the scan keeps.
std::string DescribeFailure(std::string systemText, ConnectHint hint);

}  // namespace glimmora
