#include "ui/gtk/outside_destruction.h"

#include <X11/Xlib.h>
#include <gdk/gdkx.h>

namespace updater {

namespace {

constexpr char kWatchKey[] = "tavrix-outside-destruction";

struct Watch {
  void (*onGone)(void*) = nullptr;
  void* data = nullptr;
  bool reported = false;
};

bool WindowStillExists(GdkDisplay* display, Window window) {
  gdk_x11_display_error_trap_push(display);
  XWindowAttributes attributes;
  const Status found = XGetWindowAttributes(GDK_DISPLAY_XDISPLAY(display), window, &attributes);
  const int error = gdk_x11_display_error_trap_pop(display);
  return found != 0 && error == 0;
}

GdkFilterReturn FilterStructureEvents(GdkXEvent* native, GdkEvent*, gpointer data) {
  auto* watch = static_cast<Watch*>(data);
  const XEvent* event = static_cast<const XEvent*>(native);
  if (watch->reported) return GDK_FILTER_CONTINUE;
  if (event->type != UnmapNotify && event->type != DestroyNotify) return GDK_FILTER_CONTINUE;
  const Window window = event->type == UnmapNotify ? event->xunmap.window
                                                   : event->xdestroywindow.window;
  GdkDisplay* display = gdk_display_get_default();
  // An unmapping alone may be a minimisation; only a window that is gone
  // was closed.
  if (event->type == UnmapNotify && WindowStillExists(display, window)) {
    return GDK_FILTER_CONTINUE;
  }
  watch->reported = true;
  // What follows touches the vanished window again (hiding it, destroying
  // its widgets); those errors mean nothing now. The trap stays open for
  // the rest of the process, which is ending.
  gdk_x11_display_error_trap_push(display);
  watch->onGone(watch->data);
  return GDK_FILTER_REMOVE;
}

void StartWatching(GtkWidget* toplevel, gpointer data) {
  GdkWindow* window = gtk_widget_get_window(toplevel);
  if (window == nullptr || !GDK_IS_X11_WINDOW(window)) return;
  gdk_window_add_filter(window, FilterStructureEvents, data);
}

void StopWatching(GtkWidget* toplevel, gpointer data) {
  GdkWindow* window = gtk_widget_get_window(toplevel);
  if (window == nullptr || !GDK_IS_X11_WINDOW(window)) return;
  gdk_window_remove_filter(window, FilterStructureEvents, data);
}

void FreeWatch(gpointer data) { delete static_cast<Watch*>(data); }

}  // namespace

void WatchForOutsideDestruction(GtkWidget* toplevel, void (*onGone)(void* data), void* data) {
  auto* watch = new Watch;
  watch->onGone = onGone;
  watch->data = data;
  g_object_set_data_full(G_OBJECT(toplevel), kWatchKey, watch, FreeWatch);
  g_signal_connect_after(toplevel, "realize", G_CALLBACK(StartWatching), watch);
  g_signal_connect(toplevel, "unrealize", G_CALLBACK(StopWatching), watch);
}

}  // namespace updater
