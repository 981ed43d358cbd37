// The sample fleet of examples/ through the batch worker and the offline
// registry, against the result file reviewed line by line against the exports.
#include <gtest/gtest.h>

#include <string>

#include "batch/batch_worker.h"
#include "inventory/offline/registry_offline.h"
#include "resources/texts.h"
#include "tests/batch/batch_test_support.h"
#include "tests/batch/fleet_golden.h"
#include "tests/support/scoped_env.h"
#include "tests/support/time_zone.h"

namespace glimmora {
namespace {

using testing::ReadBytes;
using testing::SplitResultLines;
using testing::TempDir;

const std::string kSourceDir = GLIMMORA_SOURCE_DIR;

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
  const std::string written = testing::WithoutSourceDirectory(ReadBytes(dir.File("inventory.csv")));
  const std::string expected = testing::ExpectedFleetInventory();
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
