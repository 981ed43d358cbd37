// The bookkeeping that lets the advapi32 back end say a workstation's
// connection broke: which keys share a connection, what marks it, and that a
// handle value given out again starts afresh.
#include <gtest/gtest.h>

#include "inventory/win32/remote_keys.h"

namespace glimmora {
namespace {

constexpr long kRpcServerUnavailable = 1722;
constexpr long kRpcCallFailed = 1726;
constexpr long kNetnameDeleted = 64;

TEST(RemoteKeys, AFailureOfTheLinkMarksEveryKeyOfThatConnectionOnly) {
  RemoteKeys keys;
  keys.AddConnection(0x100);  // workstation A
  keys.AddSubkey(0x100, 0x101);
  keys.AddSubkey(0x101, 0x102);
  keys.AddConnection(0x200);  // workstation B
  keys.AddSubkey(0x200, 0x201);

  // What a call says about the key or value asked for marks nothing.
  for (long code : {kErrorFileNotFound, kErrorAccessDenied, kErrorMoreData, kErrorNoMoreItems,
                    kErrorBadDatabase}) {
    keys.CallFailed(0x102, code);
    EXPECT_FALSE(keys.Lost(0x100)) << code;
  }

  keys.CallFailed(0x102, kRpcCallFailed);
  for (RegKey key : {0x100, 0x101, 0x102}) EXPECT_TRUE(keys.Lost(key)) << key;
  EXPECT_FALSE(keys.Lost(0x200));
  EXPECT_FALSE(keys.Lost(0x201));

  keys.CallFailed(0x200, kNetnameDeleted);
  EXPECT_TRUE(keys.Lost(0x201));
}

TEST(RemoteKeys, KeysOfThisComputerNeverLoseAConnection) {
  RemoteKeys keys;
  keys.AddSubkey(kHkeyLocalMachine, 0x300);
  keys.CallFailed(kHkeyLocalMachine, kRpcServerUnavailable);
  keys.CallFailed(0x300, kRpcServerUnavailable);
  EXPECT_FALSE(keys.Lost(kHkeyLocalMachine));
  EXPECT_FALSE(keys.Lost(0x300));
  EXPECT_FALSE(keys.Lost(kNoKey));
}

TEST(RemoteKeys, AHandleValueGivenOutAgainStartsAfresh) {
  RemoteKeys keys;
  keys.AddConnection(0x100);
  keys.AddSubkey(0x100, 0x101);
  keys.CallFailed(0x101, kRpcServerUnavailable);
  keys.Remove(0x101);
  keys.Remove(0x100);
  EXPECT_FALSE(keys.Lost(0x101));

  // The next workstation's connection gets the same handle values.
  keys.AddConnection(0x100);
  EXPECT_FALSE(keys.Lost(0x100));
  // And a key of this computer that gets a value a remote key had is local.
  keys.AddConnection(0x400);
  keys.CallFailed(0x400, kRpcServerUnavailable);
  keys.Remove(0x400);
  keys.AddSubkey(kHkeyLocalMachine, 0x400);
  EXPECT_FALSE(keys.Lost(0x400));
}

}  // namespace
}  // namespace glimmora
