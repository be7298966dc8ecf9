#include "install/update_command.h"

#include <string>
#include <string_view>

#include "app/end_program.h"
#include "app/updater_state.h"
#include "download/download_to_file.h"
#include "download/show_progress.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/run_directory.h"
#include "platform/threads.h"
#include "text/literals.h"
#include "text/text.h"
#include "ui/updater_window.h"

namespace updater {

namespace lit = literals;

namespace {

constexpr uint32_t kLaunchWaitMs = 1000;

// The old executable is deleted only when the hand-off file named a plain
// file of the run directory: a name that climbs out of it or names it must
// delete nothing. Two-byte characters are stepped over whole, since their
// second byte may be 0x5C.
bool IsBareFileName(std::string_view name) {
  if (name.empty() || name == "." || name == "..") return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (c == '\\' || c == '/' || c == '\0') return false;
    if (c >= 0x81 && c <= 0xFE && i + 1 < name.size()) ++i;
  }
  return true;
}

void ShowInstallFailure() {
  StopPoint();
  TheWindow().ShowMessageBox(lit::kErrorInstall, lit::kMessageTitle);
}

}  // namespace

void OnUpdateButtonClicked() {
  UpdaterWindow& window = TheWindow();
  UpdaterState& state = TheUpdaterState();
  if (CompareText(window.ReadCaption(Control::按钮2), lit::kStartUpdate) == 0) {
    // Caption and state change before the worker exists, so a second click
    // finds "正在更新" and starts nothing.
    window.SetCaption(Control::按钮2, lit::kUpdating);
    window.Disable(Control::按钮2);
    state.targetDirectory = JoinText(RunDirectory(), lit::kSeparator);
    state.workerThread = StartThread(RunInstall);
    return;
  }
  if (CompareText(window.ReadCaption(Control::按钮2), lit::kLaunch) == 0) {
    StartProduct(JoinText(RunDirectory(), lit::kProductExeSuffix), kLaunchWaitMs);
    EndProgram(0);
  }
}

void RunInstall() {
  UpdaterWindow& window = TheWindow();
  const UpdaterState& state = TheUpdaterState();
  const std::string downloadPath = JoinText(state.targetDirectory, lit::kDownloadFileSuffix);
  const std::string newExecutable = JoinText(state.targetDirectory, lit::kProductExeSuffix);

  // A report comes only after a block of the body has been written, so none
  // at all means an empty body. An empty file is no program: it must neither
  // take the place of a working executable nor cost the product its process.
  bool wroteAnything = false;
  const ProgressCallback showAndNote = [&wroteAnything](int32_t total, int32_t received,
                                                        int32_t elapsed, int32_t transfer) {
    wroteAnything = true;
    ShowProgress(total, received, elapsed, transfer);
  };
  if (DownloadToFile(state.downloadUrl, downloadPath, showAndNote) != 0) return;
  if (!wroteAnything) {
    ShowInstallFailure();
    return;
  }

  StopPoint();
  EndProcessByName(window.ReadContent(Control::编辑框1));

  // The new executable goes in place first, by one rename that replaces the
  // old file: whatever happens from here on, "Tavrix.exe" is a whole
  // executable, the old one or the new one.
  StopPoint();
  if (!InstallFileAs(downloadPath, newExecutable)) {
    ShowInstallFailure();
    return;
  }

  // Only then does the old executable go, when it is another file.
  const std::string oldName = window.ReadContent(Control::编辑框1);
  if (IsBareFileName(oldName)) {
    const std::string oldExecutable = JoinText(RunDirectory(), lit::kSeparator, oldName);
    if (!IsSameFile(oldExecutable, newExecutable)) {
      StopPoint();
      DeleteFileAt(oldExecutable);
    }
  }

  StopPoint();
  window.SetPosition(Control::进度条1, kProgressRange);
  window.SetCaption(Control::标签5, lit::kDownloadDone);
  window.SetCaption(Control::按钮2, lit::kLaunch);
  window.Enable(Control::按钮2);
}

}  // namespace updater
