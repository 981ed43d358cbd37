#pragma once
// A Samba test server of one test's own (scripts/samba-test-server) on a
// loopback of its own: the test process enters a network namespace first,
// so no other server on the machine meets it. Linux, root and the samba
// package; the test is skipped without them.
#include <gtest/gtest.h>
#include <sched.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "tests/support/batch_files.h"

namespace glimmora::testing {

class PrivateSambaTest : public ::testing::Test {
 protected:
  // The registry export the server is filled from.
  virtual std::string DisplayExport() = 0;

  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "a private network namespace and smbd need root";
    if (std::system("command -v smbd >/dev/null") != 0) GTEST_SKIP() << "smbd is not installed";
    if (unshare(CLONE_NEWNET) != 0) GTEST_SKIP() << "cannot make a network namespace here";
    ASSERT_EQ(std::system("ip link set lo up"), 0);
    serverDir_ = dir_.File("samba");
    const std::string exportPath = dir_.File("display.reg");
    std::ofstream(exportPath, std::ios::binary) << DisplayExport();
    // A start that hangs (on a winbindd that never answers) fails within a minute.
    const std::string start = "timeout 60 " + std::string(GLIMMORA_SOURCE_DIR) +
                              "/scripts/samba-test-server start " + serverDir_ + " " + exportPath +
                              ServerLogRedirect();
    ASSERT_EQ(std::system(start.c_str()), 0) << ServerLog();
    started_ = true;
  }
  void TearDown() override {
    if (!started_) return;
    const std::string stop = std::string(GLIMMORA_SOURCE_DIR) + "/scripts/samba-test-server stop " +
                             serverDir_ + " >/dev/null 2>&1";
    std::system(stop.c_str());
  }
  // Whether SetUp left a server to test.
  bool Ready() const { return started_ && !HasFatalFailure(); }

  // Appends a command's output to the server's log.
  std::string ServerLogRedirect() const { return " >>" + dir_.File("server.log") + " 2>&1"; }
  std::string ServerLog() const { return ReadBytes(dir_.File("server.log")); }

  TempDir dir_;
  std::string serverDir_;
  bool started_ = false;
};

}  // namespace glimmora::testing
