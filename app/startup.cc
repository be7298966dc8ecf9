#include "app/startup.h"

#include "app/close_paths.h"
#include "app/end_program.h"
#include "app/updater_state.h"
#include "check/check_for_update.h"
#include "install/update_command.h"
#include "platform/run_directory.h"
#include "ui/updater_window.h"

namespace updater {

void RunUpdater() {
  // Without its folder the updater could build no path at all; the
  // hand-off file cannot be found either, which is the no-update path.
  TakeRunDirectoryFromExecutable();
  RegisterAtEnd(ReleaseUpdaterState);

  WindowEvents events;
  events.created = CheckForUpdate;
  events.willBeDestroyed = OnWindowWillBeDestroyed;
  events.closeButtonClicked = OnCloseButtonClicked;
  events.updateButtonClicked = OnUpdateButtonClicked;
  UpdaterWindow& window = TheWindow();
  window.Load(events);
  window.RunMessageLoop();
  EndProgram(0);
}

}  // namespace updater
