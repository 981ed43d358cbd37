// The sample fleet of examples/ through the batch worker and the offline
// registry, against the result file reviewed line by line against the exports.
#include <gtest/gtest.h>

#include <string>

#include "batch/batch_worker.h"
#include "inventory/registry_offline.h"
#include "resources/texts.h"
#include "tests/batch/batch_test_support.h"
#include "tests/support/scoped_env.h"
#include "tests/support/time_zone.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace glimmora {
namespace {

using testing::ReadBytes;
using testing::SplitResultLines;
using testing::TempDir;

const std::string kSourceDir = GLIMMORA_SOURCE_DIR;

// The reviewed file is UTF-8; on Windows the program writes the ANSI code page,
// into which the registry texts are converted the same way.
std::string InProgramCodePage(const std::string& utf8) {
#ifdef _WIN32
  const int units =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), units);
  const int bytes =
      WideCharToMultiByte(CP_ACP, 0, wide.data(), units, nullptr, 0, nullptr, nullptr);
  std::string ansi(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), units, ansi.data(), bytes, nullptr, nullptr);
  return ansi;
#else
  return utf8;
#endif
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
  for (std::size_t pos = text.find(from); pos != std::string::npos;
       pos = text.find(from, pos + to.size()))
    text.replace(pos, from.size(), to);
}

TEST(SampleFleet, WritesTheReviewedInventory) {
  testing::ScopedTimeZone utc(testing::kZoneUtc);
  testing::EnglishMessages english;
#ifdef _WIN32
  if (LoadText(kTextColumnNote) != "Note") GTEST_SKIP() << "not an English user interface";
#endif
  TempDir dir;
  OfflineRegistry registry(kSourceDir + "/examples/fleet/");
  BatchState state;
  BatchServices services;
  services.registry = &registry;  // no probe: the exports stand for the network
  services.finishPause = std::chrono::milliseconds(0);

  RunBatch(state, services, kSourceDir + "/examples/workstations.txt", dir.File("inventory.csv"));

  EXPECT_EQ(state.failed, 0) << state.failureText;
  EXPECT_EQ(registry.OpenKeyCount(), 0u);
  std::string written = ReadBytes(dir.File("inventory.csv"));
  // The note for the workstation without an export names the file as given.
  ReplaceAll(written, kSourceDir + "/", "");
  const std::string expected =
      InProgramCodePage(ReadBytes(kSourceDir + "/tests/data/fleet-golden.csv"));
  // Line by line first, for a readable difference.
  const std::vector<std::string> writtenLines = SplitResultLines(written);
  const std::vector<std::string> expectedLines = SplitResultLines(expected);
  for (std::size_t i = 0; i < writtenLines.size() && i < expectedLines.size(); ++i)
    EXPECT_EQ(writtenLines[i], expectedLines[i]) << "line " << i + 1;
  EXPECT_EQ(writtenLines.size(), expectedLines.size());
  EXPECT_EQ(written, expected);
}

}  // namespace
}  // namespace glimmora
