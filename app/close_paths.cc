#include "app/close_paths.h"

#include "app/end_program.h"
#include "app/updater_state.h"
#include "platform/files.h"
#include "platform/run_directory.h"
#include "platform/threads.h"
#include "text/literals.h"
#include "text/text.h"

namespace updater {

namespace {
void StopWorkerAndEnd() {
  UpdaterState& state = TheUpdaterState();
  ForceEndThread(state.workerThread.load());
  CloseFile(state.downloadFile.load());
  EndProgram(0);
}
}  // namespace

void OnCloseButtonClicked() {
  // While a download runs the file is open and the deletion fails: the
  // partial file stays until the next start deletes it.
  DeleteFileAt(JoinText(RunDirectory(), literals::kDownloadFileSuffix));
  StopWorkerAndEnd();
}

void OnWindowWillBeDestroyed() {
  DeleteFileAt(JoinText(RunDirectory(), literals::kHandoffFileSuffix));
  StopWorkerAndEnd();
}

}  // namespace updater
