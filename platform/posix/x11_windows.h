// The top-level windows of the X display, with their titles and processes.
//
// Speaks the X protocol through xcb rather than Xlib: a window that goes
// away while it is being read is then an error reply to that one request,
// not a call of Xlib's process-wide error handler (whose default ends the
// process, and which the GTK thread relies on being its own).
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace updater {

struct TopLevelWindow {
  std::string title;  // UTF-8; empty when the window has none
  pid_t pid = 0;      // 0 when unknown or the window's client runs on another host
};

class X11Display {
 public:
  // nullptr when DISPLAY is not set or the display cannot be reached.
  static std::unique_ptr<X11Display> Open();
  ~X11Display();
  X11Display(const X11Display&) = delete;
  X11Display& operator=(const X11Display&) = delete;

  // The window manager's client list where there is one, else the root
  // window's mapped children from the top of the stacking order down.
  std::vector<TopLevelWindow> TopLevelWindows();

 private:
  struct Connection;
  explicit X11Display(std::unique_ptr<Connection> connection);
  std::unique_ptr<Connection> connection_;
};

}  // namespace updater
