// The two handlers that belong to the shell. Both run on the window's
// thread, stop the worker before they close the download file, and end the
// program with exit code 0.
#pragma once

namespace updater {

// 超级按钮1 clicked: deletes the download file, then stops the worker.
void OnCloseButtonClicked();

// The window will be destroyed (Esc, or a close request from outside):
// deletes the hand-off file, then stops the worker.
void OnWindowWillBeDestroyed();

}  // namespace updater
