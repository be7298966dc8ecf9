// A toplevel window destroyed from outside (another X client destroying it,
// as `xdotool windowclose` does) is a close request like any other.
//
// GTK learns of such a destruction late: it first handles the unmapping,
// during which other code (the web view's) still queries the vanished
// window, and the X error that follows ends the process with status 1. So
// the X events are looked at before GTK translates them: an unmapping of a
// window that no longer exists, or its destruction, calls `onGone` at once,
// and from then on X errors are ignored, since the program only ends.
#pragma once

#include <gtk/gtk.h>

namespace updater {

// Watches `toplevel` from its realisation on. `onGone(data)` runs on the
// window's thread; when it returns, the event is dropped. Does nothing on
// a display other than X11.
void WatchForOutsideDestruction(GtkWidget* toplevel, void (*onGone)(void* data), void* data);

}  // namespace updater
