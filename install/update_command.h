// The update command carried by 按钮2, and the worker's procedure.
#pragma once

namespace updater {

// Clicked event of 按钮2, on the window's thread. "开始更新": becomes
// "正在更新", disabled, and starts the worker. "启动Tavrix": starts the new
// product and ends the program. Any other caption: nothing.
void OnUpdateButtonClicked();

// The worker thread's procedure: downloads the new executable, ends the
// running product, puts the download in place as "Tavrix.exe" and turns the
// button into the launch button. Stops after a failed download or install,
// its message shown, with the button left "正在更新" and disabled.
void RunInstall();

}  // namespace updater
