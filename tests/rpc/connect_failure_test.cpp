// What a failed pipe open means, over the table alone: no SMB client needed.
#include "inventory/rpc/connect_failure.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>

#include "inventory/registry/registry_access.h"
#include "inventory/rpc/logon_guard.h"

namespace glimmora {
namespace {

TEST(ConnectFailureTable, EachStatusHasOneRowOfAnErrorState) {
  std::set<std::uint32_t> seen;
  for (const ConnectFailureRule& rule : ConnectFailureRules()) {
    EXPECT_TRUE(seen.insert(rule.status).second) << std::hex << rule.status;
    EXPECT_EQ(rule.status >> 30, 3u) << std::hex << rule.status;  // severity: error
    EXPECT_NE(rule.code, kErrorSuccess);
  }
  EXPECT_GE(seen.size(), 12u);
}

TEST(ConnectFailureTable, MissingPipeIsAStoppedServiceOfTheRegistryOnly) {
  for (const std::uint32_t status :
       {kStatusObjectNameNotFound, kStatusPipeNotAvailable, kStatusPipeBusy}) {
    const auto registry = ClassifyConnectFailure(status, true);
    ASSERT_TRUE(registry.has_value());
    EXPECT_EQ(registry->code, kErrorBadNetPath);
    EXPECT_EQ(registry->hint, ConnectHint::kServiceStopped);
    const auto serviceManager = ClassifyConnectFailure(status, false);
    ASSERT_TRUE(serviceManager.has_value());
    EXPECT_EQ(serviceManager->code, kErrorBadNetPath);
    EXPECT_EQ(serviceManager->hint, ConnectHint::kNone);
    EXPECT_TRUE(ServiceMayBeStarting(status));
    EXPECT_FALSE(TicketMayBeTheCause(status));
  }
}

TEST(ConnectFailureTable, TransportFailuresAreAPathNotReached) {
  for (const std::uint32_t status : {kStatusNoMemory, kStatusIoTimeout, kStatusConnectionReset,
                                     kStatusConnectionDisconnected, kStatusEndOfFile}) {
    const auto rule = ClassifyConnectFailure(status, true);
    ASSERT_TRUE(rule.has_value());
    EXPECT_EQ(rule->code, kErrorBadNetPath);
    EXPECT_EQ(rule->hint, ConnectHint::kNone);
    EXPECT_FALSE(rule->logonRefused);
  }
  // A dropped connection may be a service starting; a refused or silent port not.
  EXPECT_TRUE(ServiceMayBeStarting(kStatusConnectionReset));
  EXPECT_FALSE(ServiceMayBeStarting(kStatusNoMemory));
  EXPECT_FALSE(ServiceMayBeStarting(kStatusIoTimeout));
  EXPECT_FALSE(TicketMayBeTheCause(kStatusNoMemory));
  EXPECT_FALSE(TicketMayBeTheCause(kStatusIoTimeout));
}

TEST(ConnectFailureTable, RefusalsAndTheirHints) {
  const auto denied = ClassifyConnectFailure(kStatusAccessDenied, false);
  ASSERT_TRUE(denied.has_value());
  EXPECT_EQ(denied->code, kErrorAccessDenied);
  EXPECT_EQ(denied->hint, ConnectHint::kAdministratorsOnly);
  EXPECT_FALSE(denied->logonRefused);

  const auto ntlm = ClassifyConnectFailure(kStatusNtlmBlocked, true);
  ASSERT_TRUE(ntlm.has_value());
  EXPECT_EQ(ntlm->code, kErrorNtlmBlocked);
  EXPECT_EQ(ntlm->hint, ConnectHint::kNtlmRefused);

  const auto logon = ClassifyConnectFailure(kStatusLogonFailure, true);
  ASSERT_TRUE(logon.has_value());
  EXPECT_EQ(logon->code, kErrorLogonFailure);
  EXPECT_TRUE(logon->logonRefused);
  EXPECT_TRUE(TicketMayBeTheCause(kStatusLogonFailure));

  const auto invalid = ClassifyConnectFailure(kStatusInvalidParameter, true);
  ASSERT_TRUE(invalid.has_value());
  EXPECT_EQ(invalid->code, kErrorInvalidName);
  EXPECT_TRUE(TicketMayBeTheCause(kStatusInvalidParameter));
}

TEST(ConnectFailureTable, UnlistedStatusIsLeftToTheClientsMapping) {
  constexpr std::uint32_t kStatusBadNetworkName = 0xC00000CC;
  EXPECT_FALSE(ClassifyConnectFailure(kStatusBadNetworkName, true).has_value());
  EXPECT_FALSE(ServiceMayBeStarting(kStatusBadNetworkName));
  // A code of the Kerberos library's own is not in the table either.
  EXPECT_TRUE(TicketMayBeTheCause(kStatusBadNetworkName));
}

TEST(ConnectFailureDescription, HintFollowsTheSystemText) {
  const std::string hint = HintText(ConnectHint::kAdministratorsOnly);
  EXPECT_FALSE(hint.empty());
  EXPECT_EQ(DescribeFailure("Access is denied.", ConnectHint::kAdministratorsOnly),
            CutUtf8("Access is denied. " + hint, kMaxMessageBytes));
  EXPECT_EQ(DescribeFailure("", ConnectHint::kAdministratorsOnly), hint);
  EXPECT_EQ(DescribeFailure("Access is denied.", ConnectHint::kNone), "Access is denied.");
  EXPECT_TRUE(HintText(ConnectHint::kNone).empty());
  for (const ConnectHint other :
       {ConnectHint::kServiceStopped, ConnectHint::kNtlmRefused, ConnectHint::kLogonsStopped}) {
    EXPECT_FALSE(HintText(other).empty());
    EXPECT_NE(HintText(other), hint);
  }
}

TEST(ConnectFailureDescription, CutKeepsWholeCharacters) {
  const std::string text = DescribeFailure(std::string(kMaxMessageBytes - 1, 'a') + "é", {});
  EXPECT_EQ(text, std::string(kMaxMessageBytes - 1, 'a'));
  EXPECT_EQ(CutUtf8("é", 1), "");
  EXPECT_EQ(CutUtf8("abc", 3), "abc");
}

TEST(LogonFailureGuard, StopsAfterFailuresInARow) {
  LogonFailureGuard guard(2);
  guard.Count(false);
  EXPECT_FALSE(guard.Stopped());
  guard.Count(true);  // a success ends the run
  guard.Count(false);
  EXPECT_FALSE(guard.Stopped());
  guard.Count(false);
  EXPECT_TRUE(guard.Stopped());
  guard.Count(true);
  EXPECT_TRUE(guard.Stopped());
}

TEST(LogonFailureGuard, ZeroNeverStops) {
  LogonFailureGuard guard(0);
  for (int i = 0; i < 100; ++i) guard.Count(false);
  EXPECT_FALSE(guard.Stopped());
}

}  // namespace
}  // namespace glimmora
