// UpdaterWindow: the updater's one window as the rest of the program sees it.
//
// The program touches the window only through the control operations below
// and learns of the user's actions through four events (WindowEvents). Texts
// are code page 936 bytes; the implementation converts at its own edge.
//
// Threads: the window belongs to the window's thread, which creates it and
// raises every event. The control operations and ShowMessageBox may also be
// called from the worker thread. Such a call takes effect before it returns,
// and the worker's calls take effect in the order it makes them: a read that
// follows a set sees the set. The window's thread never waits for the worker.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace updater {

// The controls, in the order of their creation.
enum class Control {
  标签5,          // transparent label over the picture: the percentage
  标签1,          // local version
  标签2,          // latest version (red)
  标签4,          // download banner
  标签6,          // file size
  标签7,          // received
  标签8,          // elapsed
  标签9,          // speed
  标签10,         // remaining time
  超文本浏览框1,  // the update log
  外形框2,        // the white panel holding the labels and the browser
  编辑框1,        // hidden: the product's executable name
  超级按钮1,      // the close button "×"
  进度条1,        // range 0..10000
  按钮2,          // the update command
};
inline constexpr int kControlCount = 15;

// Positions are stored limited to this and shown limited to kProgressRange.
inline constexpr int32_t kPositionLimit = 32767;
inline constexpr int32_t kProgressRange = 10000;

// Handlers of the window's events; each runs on the window's thread, one at
// a time, and none runs once the program has begun to end.
struct WindowEvents {
  void (*created)() = nullptr;           // before the window is first shown
  void (*willBeDestroyed)() = nullptr;   // a close request was granted
  void (*closeButtonClicked)() = nullptr;   // 超级按钮1
  void (*updateButtonClicked)() = nullptr;  // 按钮2, only while enabled
};

class UpdaterWindow {
 public:
  virtual ~UpdaterWindow() = default;

  // Labels 标签1..标签10 and 按钮2: replaces the text shown.
  virtual void SetCaption(Control control, std::string_view text) = 0;
  // 按钮2: a copy of the caption last set (at first "开始更新").
  virtual std::string ReadCaption(Control control) = 0;
  // 编辑框1.
  virtual void SetContent(Control control, std::string_view text) = 0;
  virtual std::string ReadContent(Control control) = 0;
  // 按钮2: a disabled button takes no clicks and is drawn disabled.
  virtual void Disable(Control control) = 0;
  virtual void Enable(Control control) = 0;
  // 进度条1: stores the value limited to 0..kPositionLimit; the bar shows it
  // limited to 0..kProgressRange; a read gives the stored value.
  virtual void SetPosition(Control control, int32_t value) = 0;
  virtual int32_t ReadPosition(Control control) = 0;

  // A message box: the text, the title, one OK button, no icon, no owner.
  // Returns when the user has dismissed it. On the window's thread before
  // the window is shown it is modal; called from the worker it is a window
  // of its own and the updater's window stays usable meanwhile.
  virtual void ShowMessageBox(std::string_view text, std::string_view title) = 0;

  // The control-skinning switch of the calling thread: styles 1..3 restyle
  // the standard controls (the push button and the edit box) of this window
  // and of message boxes the thread shows later; any other number switches
  // skinning off. Window's thread only.
  virtual void SwitchSkinning(int32_t style) = 0;

  // Start-up: creates the window hidden at the centred place with all its
  // controls, raises the created event (which may end the program), then
  // shows the window. Window's thread, once.
  virtual void Load(const WindowEvents& events) = 0;
  // Runs the window thread's message loop; returns only if the loop ends
  // without the program having ended.
  virtual void RunMessageLoop() = 0;

  // The first step of ending the program: from now on no event reaches a
  // handler and no control operation changes what is shown. Any thread.
  virtual void StopEvents() = 0;
  // Releases what the GUI platform holds (the window, the web view). Window's
  // thread, while the program ends, after StopEvents.
  virtual void Release() = 0;
};

// The process's window. Set once at start-up (or by a test) before any
// routine that uses it runs.
UpdaterWindow& TheWindow();
void SetTheWindow(UpdaterWindow* window);

}  // namespace updater
