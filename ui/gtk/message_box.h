// Message boxes: a title, a text, one OK button, no icon, no owner window.
// Texts are UTF-8 here; the window converts at its edge.
#pragma once

#include <cstdint>
#include <string>

namespace updater {

// On the window's thread: shows the box modal, runs a nested loop until the
// user dismisses it (OK, Esc or closing it), and returns. `skin` (1..3, or
// 0 for none) restyles its OK button.
void RunModalMessageBox(const std::string& text, const std::string& title, int32_t skin);

// On any other thread: asks the window's thread (the owner of the default
// main context) to show the box as a window of its own, not modal, and
// waits until the user dismisses it. The window's thread never waits here.
void ShowMessageBoxForWorker(const std::string& text, const std::string& title,
                             int32_t skin);

// Quietens GTK's note that a dialog has no parent window, which these boxes
// deliberately have not. Once per process, before the first box.
void QuietenParentlessDialogNote();

}  // namespace updater
