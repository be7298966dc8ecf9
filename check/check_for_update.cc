#include "check/check_for_update.h"

#include <cmath>
#include <string>

#include "app/end_program.h"
#include "app/updater_state.h"
#include "check/profile.h"
#include "platform/files.h"
#include "platform/run_directory.h"
#include "text/literals.h"
#include "text/text.h"
#include "ui/updater_window.h"

namespace updater {

namespace {

namespace lit = literals;

constexpr int32_t kSkinningStyle = 2;
constexpr double kUpdateFlagTolerance = 1e-7;
constexpr double kLocalVersionStep = 0.01;

// Built anew at each use, so that every step names the file by the run
// directory as it is then.
std::string HandoffPath() { return JoinText(RunDirectory(), lit::kHandoffFileSuffix); }

std::string ReadHandoffKey(std::string_view key) {
  return ReadProfileValue(HandoffPath(), lit::kHandoffSection, key);
}

}  // namespace

void CheckForUpdate() {
  UpdaterWindow& window = TheWindow();
  window.SwitchSkinning(kSkinningStyle);

  // An update that was cut short leaves its download behind.
  DeleteFileAt(JoinText(RunDirectory(), lit::kDownloadFileSuffix));

  window.SetContent(Control::编辑框1, ReadHandoffKey(lit::kKeyFileName));

  const double flag = TextToNumber(ReadHandoffKey(lit::kKeyUpdateFlag));
  // Written as "not within" so that a NaN, should one ever come, means no update.
  if (!(std::fabs(flag - 1.0) <= kUpdateFlagTolerance)) {
    window.ShowMessageBox(lit::kNoUpdateText, lit::kNoUpdateTitle);
    DeleteFileAt(HandoffPath());
    EndProgram(0);
  }

  UpdaterState& state = TheUpdaterState();
  state.latestVersion = ReadHandoffKey(lit::kKeyVersion);
  state.downloadUrl = ReadHandoffKey(lit::kKeyDownloadUrl);

  window.SetCaption(Control::标签2, JoinText(lit::kLatestVersionLabel, state.latestVersion));
  // The local version is not read from anywhere: it is shown one step below
  // the offered one.
  window.SetCaption(Control::标签1,
                    JoinText(lit::kLocalVersionLabel,
                             NumberToText(TextToNumber(state.latestVersion) - kLocalVersionStep)));

  DeleteFileAt(HandoffPath());
}

}  // namespace updater
