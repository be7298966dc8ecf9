#include "ui/gtk/gtk_updater_window.h"

#include <string>

#include "text/codepage.h"
#include "text/literals.h"
#include "ui/gtk/background_picture.h"
#include "ui/gtk/caption_view.h"
#include "ui/gtk/message_box.h"
#include "ui/gtk/outside_destruction.h"
#include "ui/gtk/update_log_view.h"
#include "ui/gtk/window_styles.h"

namespace updater {

namespace {

// One paint a frame at most: a worker reporting thousands of times a
// second costs the window's thread sixty paints.
constexpr gint64 kPaintIntervalUs = 16000;

// Where no picture covers the window.
constexpr double kBackgroundRed = 244 / 255.0;
constexpr double kBackgroundGreen = 255 / 255.0;
constexpr double kBackgroundBlue = 244 / 255.0;

// The close button's face: bold, 12 pixels high, from a CJK-capable family.
constexpr char kCloseButtonFont[] =
    "WenQuanYi Micro Hei,Noto Sans CJK SC,Droid Sans Fallback,Sans Bold 12px";

constexpr size_t Index(Control control) { return static_cast<size_t>(control); }

// Accessible ids, so that a test can find a control whatever it shows.
constexpr const char* kAccessibleIds[kControlCount] = {
    "标签5", "标签1", "标签2", "标签4", "标签6", "标签7", "标签8", "标签9", "标签10",
    "超文本浏览框1", "外形框2", "编辑框1", "超级按钮1", "进度条1", "按钮2",
};

bool IsLabel(Control control) {
  switch (control) {
    case Control::标签5:
    case Control::标签1:
    case Control::标签2:
    case Control::标签4:
    case Control::标签6:
    case Control::标签7:
    case Control::标签8:
    case Control::标签9:
    case Control::标签10:
      return true;
    default:
      return false;
  }
}

struct Place {
  Control control;
  int left;
  int top;
  int width;
  int height;
};

// Places within the panel 外形框2.
constexpr Place kPanelLabels[] = {
    {Control::标签1, 352, 8, 104, 16},   {Control::标签2, 352, 27, 104, 16},
    {Control::标签4, 353, 48, 117, 18},  {Control::标签6, 354, 68, 113, 16},
    {Control::标签7, 354, 88, 113, 16},  {Control::标签8, 354, 108, 113, 16},
    {Control::标签9, 354, 128, 113, 16}, {Control::标签10, 355, 201, 116, 16},
};
constexpr Place kProgressLabel = {Control::标签5, 169, 116, 184, 16};
constexpr Place kBrowser = {Control::超文本浏览框1, -3, -3, 332, 241};
constexpr Place kPanel = {Control::外形框2, 2, 170, 496, 230};
constexpr Place kEditBox = {Control::编辑框1, 8, 88, 56, 24};
constexpr Place kCloseButton = {Control::超级按钮1, 481, 3, 16, 16};
constexpr Place kProgressBar = {Control::进度条1, 2, 402, 433, 26};
constexpr Place kUpdateButton = {Control::按钮2, 438, 402, 60, 26};

void Put(GtkWidget* fixed, GtkWidget* child, const Place& place) {
  gtk_widget_set_size_request(child, place.width, place.height);
  gtk_fixed_put(GTK_FIXED(fixed), child, place.left, place.top);
}

void PutInPanel(GtkWidget* panel, GtkWidget* child, const Place& place) {
  gtk_widget_set_size_request(child, place.width, place.height);
  gtk_layout_put(GTK_LAYOUT(panel), child, place.left, place.top);
}

void NameForAccessibility(GtkWidget* widget, Control control) {
  AtkObject* accessible = gtk_widget_get_accessible(widget);
  atk_object_set_accessible_id(accessible, kAccessibleIds[Index(control)]);
}

void SetAccessibleName(GtkWidget* widget, const std::string& name) {
  AtkObject* accessible = gtk_widget_get_accessible(widget);
  const char* current = atk_object_get_name(accessible);
  if (current == nullptr || name != current) atk_object_set_name(accessible, name.c_str());
}

// The primary monitor's area; the first monitor when none is marked primary.
GdkRectangle PrimaryScreen() {
  GdkRectangle area{0, 0, kWindowWidth, kWindowHeight};
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr) return area;
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr && gdk_display_get_n_monitors(display) > 0) {
    monitor = gdk_display_get_monitor(display, 0);
  }
  if (monitor != nullptr) gdk_monitor_get_geometry(monitor, &area);
  return area;
}

bool IsEnterKey(guint keyval) {
  return keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter;
}

}  // namespace

GtkUpdaterWindow::GtkUpdaterWindow() : windowThread_(std::this_thread::get_id()) {}

GtkUpdaterWindow::~GtkUpdaterWindow() { Release(); }

bool GtkUpdaterWindow::OnWindowThread() const {
  return std::this_thread::get_id() == windowThread_;
}

// ---- control operations (any thread) ----

void GtkUpdaterWindow::AfterSet(bool becameDirty) {
  if (becameDirty) SchedulePaint();
}

void GtkUpdaterWindow::SetCaption(Control control, std::string_view text) {
  if (!IsLabel(control) && control != Control::按钮2) return;
  AfterSet(model_.SetText(control, text));
}

std::string GtkUpdaterWindow::ReadCaption(Control control) { return model_.Text(control); }

void GtkUpdaterWindow::SetContent(Control control, std::string_view text) {
  if (control != Control::编辑框1) return;
  AfterSet(model_.SetText(control, text));
}

std::string GtkUpdaterWindow::ReadContent(Control control) {
  if (control != Control::编辑框1) return std::string();
  return model_.Text(control);
}

void GtkUpdaterWindow::Disable(Control control) { AfterSet(model_.SetEnabled(control, false)); }

void GtkUpdaterWindow::Enable(Control control) { AfterSet(model_.SetEnabled(control, true)); }

void GtkUpdaterWindow::SetPosition(Control control, int32_t value) {
  if (control != Control::进度条1) return;
  AfterSet(model_.SetPosition(value));
}

int32_t GtkUpdaterWindow::ReadPosition(Control control) {
  if (control != Control::进度条1) return 0;
  return model_.Position();
}

void GtkUpdaterWindow::ShowMessageBox(std::string_view text, std::string_view title) {
  const std::string utf8Text = GbkToUtf8(text);
  const std::string utf8Title = GbkToUtf8(title);
  if (OnWindowThread()) {
    RunModalMessageBox(utf8Text, utf8Title, ThreadSkin());
  } else {
    ShowMessageBoxForWorker(utf8Text, utf8Title, ThreadSkin());
  }
}

void GtkUpdaterWindow::SwitchSkinning(int32_t style) {
  SetThreadSkin(style);
  // The switch restyles the controls of the thread that throws it; only
  // the window's thread has any.
  if (!OnWindowThread() || window_ == nullptr) return;
  ApplySkin(widgets_[Index(Control::按钮2)], ThreadSkin());
  ApplySkin(widgets_[Index(Control::编辑框1)], ThreadSkin());
}

// ---- painting ----

void GtkUpdaterWindow::SchedulePaint() {
  std::lock_guard lock(paintMutex_);
  if (paintSource_ != nullptr || stopped_.load()) return;
  const gint64 due = lastPaintUs_ + kPaintIntervalUs;
  const gint64 now = g_get_monotonic_time();
  const guint delayMs = due > now ? static_cast<guint>((due - now + 999) / 1000) : 0;
  paintSource_ = g_timeout_source_new(delayMs);
  g_source_set_priority(paintSource_, G_PRIORITY_DEFAULT);
  g_source_set_callback(paintSource_, PaintSoon, this, nullptr);
  // Attaching is safe from any thread and wakes the window's loop.
  g_source_attach(paintSource_, nullptr);
}

gboolean GtkUpdaterWindow::PaintSoon(gpointer data) {
  auto* self = static_cast<GtkUpdaterWindow*>(data);
  {
    // From here on a new change schedules a new paint.
    std::lock_guard lock(self->paintMutex_);
    if (self->paintSource_ != nullptr) {
      g_source_unref(self->paintSource_);
      self->paintSource_ = nullptr;
    }
    self->lastPaintUs_ = g_get_monotonic_time();
  }
  self->PaintPendingChanges();
  return G_SOURCE_REMOVE;
}

void GtkUpdaterWindow::PaintPendingChanges() {
  // Before the widgets exist the changes wait; Build paints everything.
  if (window_ == nullptr || stopped_.load()) return;
  Paint(model_.TakeChanges());
}

void GtkUpdaterWindow::Paint(const ControlModel::Changes& changes) {
  for (size_t i = 0; i < kControlCount; ++i) {
    if (!changes.changed.test(i) || widgets_[i] == nullptr) continue;
    const auto control = static_cast<Control>(i);
    GtkWidget* widget = widgets_[i];
    if (IsLabel(control)) {
      CaptionViewSetText(widget, GbkToUtf8(changes.texts[i]));
    } else if (control == Control::按钮2 || control == Control::超级按钮1) {
      const std::string caption = GbkToUtf8(changes.texts[i]);
      CaptionViewSetText(control == Control::按钮2 ? updateCaption_ : closeCaption_, caption);
      SetAccessibleName(widget, WithoutTrailingLineEnds(caption));
    } else if (control == Control::编辑框1) {
      gtk_entry_set_text(GTK_ENTRY(widget), GbkToUtf8(changes.texts[i]).c_str());
    } else if (control == Control::进度条1) {
      gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(widget),
                                    ShownPosition(changes.position) /
                                        static_cast<double>(kProgressRange));
    }
    if (gtk_widget_get_sensitive(widget) != static_cast<gboolean>(changes.enabled[i])) {
      gtk_widget_set_sensitive(widget, changes.enabled[i]);
    }
  }
}

// ---- building the window ----

void GtkUpdaterWindow::Build() {
  InstallWindowStyles();
  QuietenParentlessDialogNote();
  background_ = LoadBackgroundPicture();

  window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  GtkWindow* window = GTK_WINDOW(window_);
  gtk_window_set_title(window, GbkToUtf8(literals::kWindowTitle).c_str());
  gtk_window_set_decorated(window, FALSE);
  gtk_window_set_resizable(window, FALSE);
  gtk_window_set_default_size(window, kWindowWidth, kWindowHeight);
  gtk_window_set_position(window, GTK_WIN_POS_NONE);
  // Placed before the first show, so the place holds even with no window
  // manager to centre it.
  const GdkRectangle screen = PrimaryScreen();
  gtk_window_move(window, screen.x + (screen.width - kWindowWidth) / 2,
                  screen.y + (screen.height - kWindowHeight) / 2);
  gtk_widget_set_app_paintable(window_, TRUE);  // the picture is the background
  gtk_widget_add_events(window_, GDK_BUTTON_PRESS_MASK | GDK_KEY_PRESS_MASK);
  g_signal_connect(window_, "draw", G_CALLBACK(OnDraw), this);
  g_signal_connect(window_, "delete-event", G_CALLBACK(OnDeleteEvent), this);
  g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKeyPress), this);
  g_signal_connect(window_, "button-press-event", G_CALLBACK(OnButtonPress), this);
  g_signal_connect(window_, "destroy-event", G_CALLBACK(OnDestroyEvent), this);
  g_signal_connect_after(window_, "realize", G_CALLBACK(OnRealize), this);
  WatchForOutsideDestruction(
      window_, [](void* self) { static_cast<GtkUpdaterWindow*>(self)->OnWindowGone(); }, this);

  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, kWindowWidth, kWindowHeight);
  gtk_container_add(GTK_CONTAINER(window_), fixed);
  gtk_widget_show(fixed);
  BuildControls(fixed);

  // Clean first: a change that comes after is painted again later.
  model_.TakeChanges();
  Paint(model_.Everything());
  SwitchSkinning(ThreadSkin());
}

void GtkUpdaterWindow::BuildControls(GtkWidget* fixed) {
  const GdkRGBA white = Rgb(255, 255, 255);
  const GdkRGBA black = Rgb(0, 0, 0);

  // 标签5: orange straight onto the picture, centred. The invisible box
  // around it takes presses, so a press on it moves nothing.
  CaptionStyle progressStyle;
  progressStyle.centred = true;
  progressStyle.colour = Rgb(255, 128, 0);
  GtkWidget* progressLabel = CaptionViewNew(progressStyle, kProgressLabel.width,
                                            kProgressLabel.height, ATK_ROLE_LABEL);
  GtkWidget* progressLabelBox = gtk_event_box_new();
  gtk_event_box_set_visible_window(GTK_EVENT_BOX(progressLabelBox), FALSE);
  gtk_container_add(GTK_CONTAINER(progressLabelBox), progressLabel);
  Put(fixed, progressLabelBox, kProgressLabel);
  widgets_[Index(Control::标签5)] = progressLabel;

  // 外形框2: a white panel. A layout has a window of its own, which clips
  // what it holds (the web view reaches past its left, top and bottom
  // edges), and unlike a fixed box it asks for no more room than its own.
  GtkWidget* panel = gtk_layout_new(nullptr, nullptr);
  gtk_layout_set_size(GTK_LAYOUT(panel), kPanel.width, kPanel.height);
  gtk_widget_add_events(panel, GDK_BUTTON_PRESS_MASK);
  gtk_widget_set_app_paintable(panel, TRUE);
  g_signal_connect(panel, "draw", G_CALLBACK(+[](GtkWidget*, cairo_t* cr, gpointer) {
                     // Filled white and outlined white: a plain white panel.
                     cairo_set_source_rgb(cr, 1, 1, 1);
                     cairo_paint(cr);
                     return FALSE;
                   }),
                   nullptr);

  for (const Place& place : kPanelLabels) {
    CaptionStyle style;
    style.background = white;
    style.colour = place.control == Control::标签2 ? Rgb(255, 0, 0) : black;
    GtkWidget* label = CaptionViewNew(style, place.width, place.height, ATK_ROLE_LABEL);
    PutInPanel(panel, label, place);
    widgets_[Index(place.control)] = label;
  }

  GtkWidget* browser = CreateUpdateLogView(UpdateLogUrl());
  PutInPanel(panel, browser, kBrowser);
  widgets_[Index(Control::超文本浏览框1)] = browser;

  Put(fixed, panel, kPanel);
  AtkObject* panelAccessible = gtk_widget_get_accessible(panel);
  atk_object_set_role(panelAccessible, ATK_ROLE_PANEL);
  widgets_[Index(Control::外形框2)] = panel;

  // 编辑框1: carries a file name, never shown.
  GtkWidget* editBox = gtk_entry_new();
  gtk_widget_set_name(editBox, kEditBoxName);
  gtk_widget_set_no_show_all(editBox, TRUE);
  Put(fixed, editBox, kEditBox);
  widgets_[Index(Control::编辑框1)] = editBox;

  // 超级按钮1: the flat "×"; its colours come from the style sheet.
  GtkWidget* closeButton = gtk_button_new();
  gtk_widget_set_name(closeButton, kCloseButtonName);
  gtk_button_set_relief(GTK_BUTTON(closeButton), GTK_RELIEF_NONE);
  CaptionStyle closeStyle;
  closeStyle.centred = true;
  closeStyle.font = kCloseButtonFont;
  closeCaption_ = CaptionViewNew(closeStyle, 0, 0, ATK_ROLE_INVALID);
  gtk_container_add(GTK_CONTAINER(closeButton), closeCaption_);
  g_signal_connect(closeButton, "clicked", G_CALLBACK(OnCloseButtonClicked), this);
  Put(fixed, closeButton, kCloseButton);
  widgets_[Index(Control::超级按钮1)] = closeButton;

  // 进度条1: segments drawn by the style sheet.
  GtkWidget* progressBar = gtk_progress_bar_new();
  gtk_widget_set_name(progressBar, kProgressBarName);
  Put(fixed, progressBar, kProgressBar);
  widgets_[Index(Control::进度条1)] = progressBar;

  // 按钮2: a push button, neither the default button nor a tab stop; its
  // caption is drawn centred and clipped to the button.
  GtkWidget* updateButton = gtk_button_new();
  gtk_widget_set_name(updateButton, kUpdateButtonName);
  gtk_widget_set_can_focus(updateButton, FALSE);
  gtk_widget_set_can_default(updateButton, FALSE);
  CaptionStyle updateStyle;
  updateStyle.centred = true;
  updateCaption_ = CaptionViewNew(updateStyle, 0, 0, ATK_ROLE_INVALID);
  gtk_container_add(GTK_CONTAINER(updateButton), updateCaption_);
  g_signal_connect(updateButton, "clicked", G_CALLBACK(OnUpdateButtonClicked), this);
  Put(fixed, updateButton, kUpdateButton);
  widgets_[Index(Control::按钮2)] = updateButton;

  for (size_t i = 0; i < kControlCount; ++i) {
    NameForAccessibility(widgets_[i], static_cast<Control>(i));
  }
  gtk_widget_show_all(fixed);  // the edit box stays hidden (no_show_all)

  // The first tab stop in creation order holds the focus at first.
  gtk_window_set_focus(GTK_WINDOW(window_), browser);
}

// ---- start-up, the loop, the end ----

void GtkUpdaterWindow::Load(const WindowEvents& events) {
  if (loaded_) return;
  loaded_ = true;
  events_ = events;
  Build();
  if (!stopped_.load() && events_.created != nullptr) events_.created();
  if (window_ == nullptr || stopped_.load()) return;
  // What the created event set is on the first frame the user sees.
  PaintPendingChanges();
  gtk_widget_show(window_);
}

void GtkUpdaterWindow::RunMessageLoop() {
  if (window_ == nullptr) return;
  gtk_main();
}

void GtkUpdaterWindow::StopEvents() { stopped_.store(true); }

void GtkUpdaterWindow::Release() {
  StopEvents();
  {
    std::lock_guard lock(paintMutex_);
    if (paintSource_ != nullptr) {
      g_source_destroy(paintSource_);
      g_source_unref(paintSource_);
      paintSource_ = nullptr;
    }
  }
  DestroyWidgets();
}

void GtkUpdaterWindow::DestroyWidgets() {
  if (window_ == nullptr) return;
  GtkWidget* window = window_;
  window_ = nullptr;
  widgets_.fill(nullptr);
  closeCaption_ = nullptr;
  updateCaption_ = nullptr;
  // The web view goes with the window, and its web process with it.
  gtk_widget_destroy(window);
}

void GtkUpdaterWindow::RequestClose() {
  if (stopped_.load() || closing_ || window_ == nullptr) return;
  closing_ = true;
  if (!windowGone_) gtk_widget_hide(window_);
  if (events_.willBeDestroyed != nullptr) events_.willBeDestroyed();
  DestroyWidgets();
  if (gtk_main_level() > 0) gtk_main_quit();
}

void GtkUpdaterWindow::OnWindowGone() {
  windowGone_ = true;
  RequestClose();
}

GtkWidget* GtkUpdaterWindow::WidgetOf(Control control) const {
  return widgets_[Index(control)];
}

// ---- signal handlers (window's thread) ----

gboolean GtkUpdaterWindow::OnDraw(GtkWidget*, cairo_t* cr, gpointer data) {
  auto* self = static_cast<GtkUpdaterWindow*>(data);
  cairo_set_source_rgb(cr, kBackgroundRed, kBackgroundGreen, kBackgroundBlue);
  cairo_paint(cr);
  if (self->background_) {
    gdk_cairo_set_source_pixbuf(cr, self->background_.get(), 0, 0);
    cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_REPEAT);
    cairo_paint(cr);
  }
  return FALSE;  // the controls are drawn on top
}

gboolean GtkUpdaterWindow::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer data) {
  // A close request from outside is always granted, our own way.
  static_cast<GtkUpdaterWindow*>(data)->RequestClose();
  return TRUE;
}

gboolean GtkUpdaterWindow::OnDestroyEvent(GtkWidget*, GdkEvent*, gpointer data) {
  // The window was destroyed from outside: a close request whose window
  // is already gone.
  static_cast<GtkUpdaterWindow*>(data)->OnWindowGone();
  return TRUE;
}

gboolean GtkUpdaterWindow::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer data) {
  auto* self = static_cast<GtkUpdaterWindow*>(data);
  if (event->keyval == GDK_KEY_Escape) {
    self->RequestClose();
    return TRUE;
  }
  // Enter moves nothing and presses nothing on the flat button; in the
  // web view it stays the page's.
  if (IsEnterKey(event->keyval) && self->window_ != nullptr &&
      gtk_window_get_focus(GTK_WINDOW(self->window_)) ==
          self->widgets_[Index(Control::超级按钮1)]) {
    return TRUE;
  }
  return FALSE;
}

gboolean GtkUpdaterWindow::OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer data) {
  auto* self = static_cast<GtkUpdaterWindow*>(data);
  if (event->type != GDK_BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY) return FALSE;
  // The press lands here from the widget whose window it hit: the window's
  // own background (with the progress bar, which has no window) or the panel
  // (with its labels). Presses on the buttons, the web view, 标签5's box and
  // the edit box arrive, if at all, from widgets of their own.
  GtkWidget* target = gtk_get_event_widget(reinterpret_cast<GdkEvent*>(event));
  if (target != self->window_ && target != self->widgets_[Index(Control::外形框2)]) {
    return FALSE;
  }
  gtk_window_begin_move_drag(GTK_WINDOW(self->window_), static_cast<gint>(event->button),
                             static_cast<gint>(event->x_root),
                             static_cast<gint>(event->y_root), event->time);
  return TRUE;
}

void GtkUpdaterWindow::OnRealize(GtkWidget* widget, gpointer) {
  // Movable and minimisable, never maximised or resized.
  GdkWindow* window = gtk_widget_get_window(widget);
  if (window == nullptr) return;
  gdk_window_set_functions(window, GdkWMFunction(GDK_FUNC_MOVE | GDK_FUNC_MINIMIZE |
                                                 GDK_FUNC_CLOSE));
}

void GtkUpdaterWindow::OnCloseButtonClicked(GtkButton*, gpointer data) {
  auto* self = static_cast<GtkUpdaterWindow*>(data);
  if (self->stopped_.load() || self->events_.closeButtonClicked == nullptr) return;
  self->events_.closeButtonClicked();
}

void GtkUpdaterWindow::OnUpdateButtonClicked(GtkButton*, gpointer data) {
  auto* self = static_cast<GtkUpdaterWindow*>(data);
  // The model, not the widget, says whether the button is enabled: a
  // Disable not yet painted already turns clicks away.
  if (self->stopped_.load() || !self->model_.Enabled(Control::按钮2) ||
      self->events_.updateButtonClicked == nullptr) {
    return;
  }
  self->events_.updateButtonClicked();
}

}  // namespace updater
