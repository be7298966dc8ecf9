// UpdaterWindow on GTK 3 and WebKitGTK: the borderless 500x430 window with
// its picture, panel, labels, web view, progress bar and buttons.
//
// Control operations go to a ControlModel at once, from either thread; the
// window's thread paints the model's changes at most once a frame, from one
// main-loop source that the first change after a paint schedules. So a
// worker's call never waits for the window's thread, a read after a set
// sees it, and what is shown follows the worker's order and ends exact.
//
// Window's thread: the thread that constructs the object, which must have
// initialised GTK and must run the default main context (RunMessageLoop).
#pragma once

#include <gtk/gtk.h>

#include <array>
#include <atomic>
#include <mutex>
#include <thread>

#include "ui/control_model.h"
#include "ui/gtk/gobject_ptr.h"
#include "ui/updater_window.h"

namespace updater {

inline constexpr int kWindowWidth = 500;
inline constexpr int kWindowHeight = 430;

class GtkUpdaterWindow final : public UpdaterWindow {
 public:
  GtkUpdaterWindow();
  ~GtkUpdaterWindow() override;
  GtkUpdaterWindow(const GtkUpdaterWindow&) = delete;
  GtkUpdaterWindow& operator=(const GtkUpdaterWindow&) = delete;

  void SetCaption(Control control, std::string_view text) override;
  std::string ReadCaption(Control control) override;
  void SetContent(Control control, std::string_view text) override;
  std::string ReadContent(Control control) override;
  void Disable(Control control) override;
  void Enable(Control control) override;
  void SetPosition(Control control, int32_t value) override;
  int32_t ReadPosition(Control control) override;
  void ShowMessageBox(std::string_view text, std::string_view title) override;
  void SwitchSkinning(int32_t style) override;
  void Load(const WindowEvents& events) override;
  void RunMessageLoop() override;
  void StopEvents() override;
  void Release() override;

  // A close request, as Esc or the system closing the window makes one
  // (the program also routes SIGTERM here): the window is hidden and its
  // will-be-destroyed handler runs, which ends the program. Should the
  // handler return, the window is destroyed and the message loop ends.
  // Ignored once events have stopped. Window's thread.
  void RequestClose();

  // The widget that shows `control` (for 按钮2 and 超级按钮1 the button, for
  // 外形框2 the panel), or null before Load and after Release. The frame is
  // the toplevel window. Window's thread; for tests and the program's entry.
  GtkWidget* WidgetOf(Control control) const;
  GtkWidget* Frame() const { return window_; }

 private:
  bool OnWindowThread() const;
  void Build();
  void BuildControls(GtkWidget* fixed);
  void SchedulePaint();
  static gboolean PaintSoon(gpointer self);
  void Paint(const ControlModel::Changes& changes);
  void PaintPendingChanges();
  void DestroyWidgets();
  void AfterSet(bool becameDirty);
  void OnWindowGone();  // destroyed from outside: RequestClose, nothing hidden

  static gboolean OnDraw(GtkWidget* widget, cairo_t* cr, gpointer self);
  static gboolean OnDeleteEvent(GtkWidget* widget, GdkEvent* event, gpointer self);
  static gboolean OnDestroyEvent(GtkWidget* widget, GdkEvent* event, gpointer self);
  static gboolean OnKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer self);
  static gboolean OnButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer self);
  static void OnRealize(GtkWidget* widget, gpointer self);
  static void OnCloseButtonClicked(GtkButton* button, gpointer self);
  static void OnUpdateButtonClicked(GtkButton* button, gpointer self);

  ControlModel model_;
  const std::thread::id windowThread_;
  std::atomic<bool> stopped_{false};
  WindowEvents events_;
  bool loaded_ = false;
  bool closing_ = false;
  bool windowGone_ = false;

  std::mutex paintMutex_;
  GSource* paintSource_ = nullptr;  // the one pending paint, if any
  gint64 lastPaintUs_ = 0;          // monotonic time of the last paint

  GObjectPtr<GdkPixbuf> background_;
  GtkWidget* window_ = nullptr;
  std::array<GtkWidget*, kControlCount> widgets_{};
  GtkWidget* closeCaption_ = nullptr;   // the "×" inside 超级按钮1
  GtkWidget* updateCaption_ = nullptr;  // the caption inside 按钮2
};

}  // namespace updater
