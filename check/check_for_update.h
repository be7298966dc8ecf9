#pragma once

namespace updater {

// The handler of the window's created event, on the window's thread, before
// the window is first shown: switches the skinning on, removes a stale
// download file, takes the offer from the hand-off file into UpdaterState and
// the window, and deletes the hand-off file. With no update on offer it
// shows its notice and ends the program (exit code 0) instead of returning.
void CheckForUpdate();

}  // namespace updater
