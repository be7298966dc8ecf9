#pragma once

namespace updater {

// Start-up and the message loop, on the process's first thread, with
// TheWindow() already set: run directory found and made current, the
// clean-up registered, the window loaded (its created event runs the update
// check), the message loop run. Does not return: every way out ends the
// program.
[[noreturn]] void RunUpdater();

}  // namespace updater
