#include "app/updater_state.h"

#include <gtest/gtest.h>

namespace updater {
namespace {

TEST(UpdaterState, ReleaseClearsOnlyTheTexts) {
  UpdaterState& state = TheUpdaterState();
  state.targetDirectory = "/run\\";
  state.downloadUrl = "http://x/y";
  state.latestVersion = "2.73";
  state.downloadFile = 7;
  const int before = ReleaseUpdaterStateRuns();
  ReleaseUpdaterState();
  EXPECT_EQ(ReleaseUpdaterStateRuns(), before + 1);
  EXPECT_TRUE(state.targetDirectory.empty());
  EXPECT_TRUE(state.downloadUrl.empty());
  EXPECT_TRUE(state.latestVersion.empty());
  EXPECT_EQ(state.downloadFile.load(), 7);  // the slot keeps naming its file
  state.downloadFile = kNoFile;
}

}  // namespace
}  // namespace updater
