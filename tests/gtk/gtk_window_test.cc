// The real GTK window on a virtual display: its controls as the user and a
// screen reader meet them, the control operations from a second thread,
// the position's limits, the events and the message boxes.
//
// The test's own thread is the window's thread. Waiting is always for a
// condition, with a deadline, while the window's loop runs.
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <thread>

#include "ui/gtk/caption_view.h"
#include "ui/gtk/gtk_updater_window.h"
#include "ui/gtk/update_log_view.h"

namespace updater {
namespace {

using namespace std::chrono_literals;

bool g_displayReady = false;

// Narrow literals here are code page 936, as the program's own texts; what
// GTK holds is UTF-8.
std::string U8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Runs the window's loop until `done` holds or `limit` has passed.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  // A heartbeat, so that each iteration returns even when nothing happens.
  const guint heartbeat =
      g_timeout_add(5, [](gpointer) -> gboolean { return G_SOURCE_CONTINUE; }, nullptr);
  bool met = done();
  while (!met && std::chrono::steady_clock::now() < deadline) {
    g_main_context_iteration(nullptr, TRUE);
    met = done();
  }
  g_source_remove(heartbeat);
  return met;
}

std::string AccessibleName(GtkWidget* widget) {
  if (widget == nullptr) return "<no widget>";
  const char* name = atk_object_get_name(gtk_widget_get_accessible(widget));
  return name != nullptr ? name : "";
}

GtkMessageDialog* FindMessageBox(const std::string& title) {
  GtkMessageDialog* found = nullptr;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item != nullptr; item = item->next) {
    if (!GTK_IS_MESSAGE_DIALOG(item->data)) continue;
    const char* boxTitle = gtk_window_get_title(GTK_WINDOW(item->data));
    if (boxTitle != nullptr && title == boxTitle && gtk_widget_get_visible(GTK_WIDGET(item->data))) {
      found = GTK_MESSAGE_DIALOG(item->data);
    }
  }
  g_list_free(toplevels);
  return found;
}

bool HasStyleClass(GtkWidget* widget, const char* name) {
  return gtk_style_context_has_class(gtk_widget_get_style_context(widget), name);
}

// What the handlers saw; the handlers are plain functions, as the program's.
struct EventLog {
  int created = 0;
  bool shownDuringCreated = true;
  int willBeDestroyed = 0;
  int closeClicked = 0;
  int updateClicked = 0;
};
EventLog g_log;
GtkUpdaterWindow* g_window = nullptr;

void OnCreated() {
  ++g_log.created;
  g_log.shownDuringCreated = gtk_widget_get_visible(g_window->Frame());
  // As the update check does before the first show.
  g_window->SetContent(Control::编辑框1, "Tavrix.exe");
  g_window->SetCaption(Control::标签1, "本地版本号:2.72");
  g_window->SetCaption(Control::标签2, "最新版本号:2.73");
}

class GtkWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_displayReady) GTEST_SKIP() << "no display";
    Reload();
  }

  void TearDown() override { Unload(); }

  void Reload() {
    Unload();
    g_log = EventLog();
    window_ = std::make_unique<GtkUpdaterWindow>();
    g_window = window_.get();
    WindowEvents events;
    events.created = OnCreated;
    events.willBeDestroyed = [] { ++g_log.willBeDestroyed; };
    events.closeButtonClicked = [] { ++g_log.closeClicked; };
    events.updateButtonClicked = [] { ++g_log.updateClicked; };
    window_->Load(events);
  }

  void Unload() {
    if (!window_) return;
    window_->Release();
    window_.reset();
    g_window = nullptr;
  }

  GtkWidget* Widget(Control control) { return window_->WidgetOf(control); }
  std::string ShownName(Control control) { return AccessibleName(Widget(control)); }
  double ShownFraction() {
    return gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(Widget(Control::进度条1)));
  }
  bool Mapped() { return window_->Frame() != nullptr && gtk_widget_get_mapped(window_->Frame()); }

  std::unique_ptr<GtkUpdaterWindow> window_;
};

TEST_F(GtkWindowTest, CreatedRunsBeforeTheFirstShowAndTheWindowIsAsDefined) {
  EXPECT_EQ(g_log.created, 1);
  EXPECT_FALSE(g_log.shownDuringCreated);
  GtkWidget* frame = window_->Frame();
  ASSERT_NE(frame, nullptr);
  EXPECT_TRUE(gtk_widget_get_visible(frame));
  EXPECT_EQ(gtk_window_get_title(GTK_WINDOW(frame)), U8(u8"Tavrix软件更新程序"));
  EXPECT_EQ(AccessibleName(frame), U8(u8"Tavrix软件更新程序"));
  EXPECT_FALSE(gtk_window_get_decorated(GTK_WINDOW(frame)));
  EXPECT_FALSE(gtk_window_get_resizable(GTK_WINDOW(frame)));
  ASSERT_TRUE(PumpUntil([&] { return Mapped(); }));

  EXPECT_EQ(gtk_widget_get_allocated_width(frame), kWindowWidth);
  EXPECT_EQ(gtk_widget_get_allocated_height(frame), kWindowHeight);
  GdkRectangle screen;
  GdkDisplay* display = gdk_display_get_default();
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  gdk_monitor_get_geometry(monitor, &screen);
  int left = 0;
  int top = 0;
  gdk_window_get_origin(gtk_widget_get_window(frame), &left, &top);
  EXPECT_EQ(left, screen.x + (screen.width - kWindowWidth) / 2);
  EXPECT_EQ(top, screen.y + (screen.height - kWindowHeight) / 2);
  if (screen.width == 1366 && screen.height == 768) {
    EXPECT_EQ(left, 433);
    EXPECT_EQ(top, 169);
  }
}

TEST_F(GtkWindowTest, ControlsSitWhereTheWindowDefinitionPutsThem) {
  ASSERT_TRUE(PumpUntil([&] { return Mapped(); }));
  struct Row {
    Control control;
    int left, top, width, height;  // within the window
  };
  // Panel children: the panel's place (2,170) plus their own.
  const Row rows[] = {
      {Control::标签5, 169, 116, 184, 16},      {Control::标签1, 354, 178, 104, 16},
      {Control::标签2, 354, 197, 104, 16},      {Control::标签4, 355, 218, 117, 18},
      {Control::标签6, 356, 238, 113, 16},      {Control::标签7, 356, 258, 113, 16},
      {Control::标签8, 356, 278, 113, 16},      {Control::标签9, 356, 298, 113, 16},
      {Control::标签10, 357, 371, 116, 16},     {Control::超文本浏览框1, -1, 167, 332, 241},
      {Control::外形框2, 2, 170, 496, 230},     {Control::超级按钮1, 481, 3, 16, 16},
      {Control::进度条1, 2, 402, 433, 26},      {Control::按钮2, 438, 402, 60, 26},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.control));
    GtkWidget* widget = Widget(row.control);
    ASSERT_NE(widget, nullptr);
    int left = 0;
    int top = 0;
    ASSERT_TRUE(gtk_widget_translate_coordinates(widget, window_->Frame(), 0, 0, &left, &top));
    EXPECT_EQ(left, row.left);
    EXPECT_EQ(top, row.top);
    EXPECT_EQ(gtk_widget_get_allocated_width(widget), row.width);
    EXPECT_EQ(gtk_widget_get_allocated_height(widget), row.height);
    EXPECT_TRUE(gtk_widget_get_visible(widget));
  }
  // The edit box only carries a name; only the browser and "×" take Tab.
  EXPECT_FALSE(gtk_widget_get_visible(Widget(Control::编辑框1)));
  EXPECT_FALSE(gtk_widget_get_can_focus(Widget(Control::按钮2)));
  EXPECT_TRUE(gtk_widget_get_can_focus(Widget(Control::超级按钮1)));
  EXPECT_TRUE(gtk_widget_get_can_focus(Widget(Control::超文本浏览框1)));
}

TEST_F(GtkWindowTest, ScreenReadersFindEveryCaptionAsItWasSet) {
  struct Row {
    Control control;
    AtkRole role;
    std::string name;
  };
  const Row rows[] = {
      {Control::标签5, ATK_ROLE_LABEL, U8(u8"下载进度：")},
      {Control::标签1, ATK_ROLE_LABEL, U8(u8"本地版本号:2.72")},  // set by created
      {Control::标签2, ATK_ROLE_LABEL, U8(u8"最新版本号:2.73")},
      {Control::标签4, ATK_ROLE_LABEL, U8(u8"正在下载")},
      {Control::标签6, ATK_ROLE_LABEL, U8(u8"文件大小:0KB")},
      {Control::标签7, ATK_ROLE_LABEL, U8(u8"已下载:0KB")},
      {Control::标签8, ATK_ROLE_LABEL, U8(u8"所用时间:0秒")},
      {Control::标签9, ATK_ROLE_LABEL, U8(u8"下载速度:0KB/S")},
      {Control::标签10, ATK_ROLE_LABEL, U8(u8"剩余时间:")},
      {Control::超级按钮1, ATK_ROLE_PUSH_BUTTON, U8(u8"×")},
      {Control::按钮2, ATK_ROLE_PUSH_BUTTON, U8(u8"开始更新")},
  };
  // Shown on the first frame: no loop iteration has run since Load.
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    AtkObject* accessible = gtk_widget_get_accessible(Widget(row.control));
    EXPECT_EQ(atk_object_get_role(accessible), row.role);
    EXPECT_EQ(ShownName(row.control), row.name);
  }
  EXPECT_EQ(atk_object_get_role(gtk_widget_get_accessible(Widget(Control::进度条1))),
            ATK_ROLE_PROGRESS_BAR);
  EXPECT_EQ(window_->ReadContent(Control::编辑框1), "Tavrix.exe");
  EXPECT_EQ(window_->ReadCaption(Control::按钮2), "开始更新");
  EXPECT_EQ(window_->ReadPosition(Control::进度条1), 0);
}

TEST_F(GtkWindowTest, AWorkersOperationsTakeEffectAtOnceWithoutWaitingForTheWindow) {
  constexpr int kReports = 20000;
  // The window's thread does not run its loop while the worker works: an
  // operation that needed it would never return.
  auto worker = std::async(std::launch::async, [this] {
    int misreads = 0;
    for (int i = 0; i < kReports; ++i) {
      const std::string caption = "已下载:" + std::to_string(i) + "KB\r\n";
      window_->SetCaption(Control::标签7, caption);
      window_->SetPosition(Control::进度条1, i);
      if (window_->ReadCaption(Control::标签7) != caption) ++misreads;
      if (window_->ReadPosition(Control::进度条1) != std::min(i, 32767)) ++misreads;
    }
    window_->SetCaption(Control::按钮2, "启动Tavrix");
    window_->Disable(Control::按钮2);
    window_->Enable(Control::按钮2);
    return misreads;
  });
  ASSERT_EQ(worker.wait_for(60s), std::future_status::ready);
  EXPECT_EQ(worker.get(), 0);
  EXPECT_EQ(window_->ReadCaption(Control::按钮2), "启动Tavrix");

  // The last state set is what the window ends up showing.
  const std::string last = U8(u8"已下载:") + std::to_string(kReports - 1) + "KB";
  EXPECT_TRUE(PumpUntil([&] {
    return ShownName(Control::标签7) == last && ShownName(Control::按钮2) == U8(u8"启动Tavrix") &&
           ShownFraction() == 1.0;
  })) << ShownName(Control::标签7);
  EXPECT_TRUE(gtk_widget_get_sensitive(Widget(Control::按钮2)));
}

TEST_F(GtkWindowTest, PositionIsStoredWithinItsLimitAndShownWithinTheBarsRange) {
  struct Row {
    int32_t set;
    int32_t read;
    double shown;
  };
  const Row rows[] = {
      {0, 0, 0.0},          {5000, 5000, 0.5},
      {10000, 10000, 1.0},  {10001, 10001, 1.0},
      {12000, 12000, 1.0},  {32767, 32767, 1.0},
      {32768, 32767, 1.0},  {40000, 32767, 1.0},
      {-5, 0, 0.0},         {std::numeric_limits<int32_t>::min(), 0, 0.0},
      {2500, 2500, 0.25},   {std::numeric_limits<int32_t>::max(), 32767, 1.0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.set);
    std::thread worker([&] { window_->SetPosition(Control::进度条1, row.set); });
    worker.join();
    EXPECT_EQ(window_->ReadPosition(Control::进度条1), row.read);
    EXPECT_TRUE(PumpUntil([&] { return ShownFraction() == row.shown; })) << ShownFraction();
  }
}

TEST_F(GtkWindowTest, CaptionsShowOnOneLineWithTheirAmpersands) {
  window_->SetCaption(Control::标签9, "下载速度:100KB/s\r\n");
  window_->SetCaption(Control::标签6, "A&B&&C");
  EXPECT_TRUE(PumpUntil([&] {
    return ShownName(Control::标签9) == U8(u8"下载速度:100KB/s") &&
           ShownName(Control::标签6) == "A&B&&C";
  }));

  struct Row {
    const char* text;
    const char* oneLine;
    const char* name;
  };
  const Row rows[] = {
      {"a\r\n", "a", "a"},
      {"a\r\nb", "ab", "a\r\nb"},
      {"\r\n", "", ""},
      {"", "", ""},
      {"x\n\r\n", "x", "x"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(OneLine(row.text), row.oneLine);
    EXPECT_EQ(WithoutTrailingLineEnds(row.text), row.name);
  }
}

TEST_F(GtkWindowTest, ButtonClicksReachTheirHandlersAndADisabledButtonTakesNone) {
  gtk_button_clicked(GTK_BUTTON(Widget(Control::按钮2)));
  EXPECT_EQ(g_log.updateClicked, 1);

  // Disabled but not yet redrawn: the click is still turned away.
  window_->Disable(Control::按钮2);
  gtk_button_clicked(GTK_BUTTON(Widget(Control::按钮2)));
  EXPECT_EQ(g_log.updateClicked, 1);
  EXPECT_TRUE(PumpUntil([&] { return !gtk_widget_get_sensitive(Widget(Control::按钮2)); }));

  window_->Enable(Control::按钮2);
  gtk_button_clicked(GTK_BUTTON(Widget(Control::按钮2)));
  EXPECT_EQ(g_log.updateClicked, 2);

  gtk_button_clicked(GTK_BUTTON(Widget(Control::超级按钮1)));
  EXPECT_EQ(g_log.closeClicked, 1);
}

TEST_F(GtkWindowTest, AfterStopEventsNoHandlerRunsAndNothingShownChanges) {
  const std::string before = ShownName(Control::标签4);
  window_->StopEvents();

  window_->SetCaption(Control::标签4, "正在下载:Tavrix V2.73");
  window_->SetPosition(Control::进度条1, 5000);
  EXPECT_EQ(window_->ReadPosition(Control::进度条1), 5000);
  gtk_button_clicked(GTK_BUTTON(Widget(Control::按钮2)));
  gtk_button_clicked(GTK_BUTTON(Widget(Control::超级按钮1)));
  window_->RequestClose();
  gtk_window_close(GTK_WINDOW(window_->Frame()));
  // Let every pending paint and event run out.
  const auto until = std::chrono::steady_clock::now() + 200ms;
  PumpUntil([&] { return std::chrono::steady_clock::now() >= until; });

  EXPECT_EQ(ShownName(Control::标签4), before);
  EXPECT_EQ(ShownFraction(), 0.0);
  EXPECT_EQ(g_log.updateClicked, 0);
  EXPECT_EQ(g_log.closeClicked, 0);
  EXPECT_EQ(g_log.willBeDestroyed, 0);
  EXPECT_NE(window_->Frame(), nullptr);
}

void SendEscape(GtkWidget* frame) {
  GdkEvent* key = gdk_event_new(GDK_KEY_PRESS);
  key->key.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(frame)));
  key->key.send_event = TRUE;
  key->key.time = GDK_CURRENT_TIME;
  key->key.keyval = GDK_KEY_Escape;
  GdkSeat* seat = gdk_display_get_default_seat(gtk_widget_get_display(frame));
  gdk_event_set_device(key, gdk_seat_get_keyboard(seat));
  gtk_main_do_event(key);
  gdk_event_free(key);
}

TEST_F(GtkWindowTest, EscapeAndACloseRequestFromOutsideRunTheWillBeDestroyedHandler) {
  struct Row {
    const char* how;
    void (*request)(GtkWidget* frame);
  };
  const Row rows[] = {
      {"Esc", SendEscape},
      {"delete-event", [](GtkWidget* frame) { gtk_window_close(GTK_WINDOW(frame)); }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.how);
    Reload();
    ASSERT_TRUE(PumpUntil([&] { return Mapped(); }));
    row.request(window_->Frame());
    // The handler here returns, so the window goes and the loop would end.
    EXPECT_TRUE(PumpUntil([&] { return g_log.willBeDestroyed == 1; }));
    EXPECT_EQ(window_->Frame(), nullptr);
  }
}

TEST_F(GtkWindowTest, AWorkersMessageBoxIsAWindowOfItsOwnAndWaitsForOk) {
  window_->SwitchSkinning(2);
  auto worker = std::async(std::launch::async, [this] {
    window_->ShowMessageBox("读文件出错!", "信息：");
    return true;
  });
  GtkMessageDialog* box = nullptr;
  ASSERT_TRUE(PumpUntil([&] { return (box = FindMessageBox(U8(u8"信息："))) != nullptr; }));
  EXPECT_EQ(AccessibleName(GTK_WIDGET(box)), U8(u8"信息："));
  EXPECT_EQ(atk_object_get_role(gtk_widget_get_accessible(GTK_WIDGET(box))), ATK_ROLE_ALERT);
  gchar* text = nullptr;
  g_object_get(box, "text", &text, nullptr);
  EXPECT_EQ(std::string(text != nullptr ? text : ""), U8(u8"读文件出错!"));
  g_free(text);
  EXPECT_FALSE(gtk_window_get_modal(GTK_WINDOW(box)));
  EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(box)), nullptr);
  GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  ASSERT_NE(ok, nullptr);
  EXPECT_FALSE(HasStyleClass(ok, "tavrix-skin-2"));  // the worker switched nothing

  // The window stays usable while the worker waits.
  EXPECT_EQ(worker.wait_for(0s), std::future_status::timeout);
  gtk_button_clicked(GTK_BUTTON(Widget(Control::按钮2)));
  EXPECT_EQ(g_log.updateClicked, 1);

  gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
  EXPECT_TRUE(PumpUntil([&] { return worker.wait_for(0s) == std::future_status::ready; }));
}

TEST_F(GtkWindowTest, AMessageBoxOnTheWindowsThreadIsModalAndTakesTheSkin) {
  window_->SwitchSkinning(2);
  struct Seen {
    bool found = false;
    bool modal = false;
    bool skinned = false;
    std::string text;
    int attempts = 0;
  } seen;
  // The box runs its own loop; this answers it from inside that loop.
  g_timeout_add(
      10,
      [](gpointer data) -> gboolean {
        auto* seen = static_cast<Seen*>(data);
        GtkMessageDialog* box = FindMessageBox(U8(u8"Tavrix提示"));
        if (box == nullptr) return ++seen->attempts < 1000 ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
        seen->found = true;
        seen->modal = gtk_window_get_modal(GTK_WINDOW(box));
        GtkWidget* ok = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
        seen->skinned = ok != nullptr && HasStyleClass(ok, "tavrix-skin-2");
        gchar* text = nullptr;
        g_object_get(box, "text", &text, nullptr);
        seen->text = text != nullptr ? text : "";
        g_free(text);
        gtk_dialog_response(GTK_DIALOG(box), GTK_RESPONSE_OK);
        return G_SOURCE_REMOVE;
      },
      &seen);
  window_->ShowMessageBox("暂未发现新版，请耐心等待！", "Tavrix提示");
  EXPECT_TRUE(seen.found);
  EXPECT_TRUE(seen.modal);
  EXPECT_TRUE(seen.skinned);
  EXPECT_EQ(seen.text, U8(u8"暂未发现新版，请耐心等待！"));
}

GdkRGBA EditBoxFrameColour(GtkWidget* editBox) {
  GtkStyleContext* context = gtk_widget_get_style_context(editBox);
  GdkRGBA* colour = nullptr;
  gtk_style_context_get(context, gtk_style_context_get_state(context), "border-top-color",
                        &colour, nullptr);
  GdkRGBA result{};
  if (colour != nullptr) {
    result = *colour;
    gdk_rgba_free(colour);
  }
  return result;
}

TEST_F(GtkWindowTest, SkinningRestylesTheButtonAndTheEditBoxFrame) {
  struct Row {
    int32_t style;
    const char* skinClass;  // none: skinning off
    GdkRGBA frame;
  };
  const Row rows[] = {
      {1, "tavrix-skin-1", Rgb(123, 158, 189)},
      {2, "tavrix-skin-2", Rgb(164, 185, 127)},
      {3, "tavrix-skin-3", Rgb(198, 197, 215)},
      {0, nullptr, {}},
      {4, nullptr, {}},
      {-1, nullptr, {}},
  };
  GtkWidget* button = Widget(Control::按钮2);
  GtkWidget* editBox = Widget(Control::编辑框1);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.style);
    window_->SwitchSkinning(row.style);
    for (const char* skin : {"tavrix-skin-1", "tavrix-skin-2", "tavrix-skin-3"}) {
      const bool expected = row.skinClass != nullptr && std::string(skin) == row.skinClass;
      EXPECT_EQ(HasStyleClass(button, skin), expected) << skin;
      EXPECT_EQ(HasStyleClass(editBox, skin), expected) << skin;
    }
    if (row.skinClass == nullptr) continue;
    // The new style applies once the window has restyled its controls.
    GdkRGBA frame{};
    EXPECT_TRUE(PumpUntil([&] {
      frame = EditBoxFrameColour(editBox);
      return gdk_rgba_equal(&frame, &row.frame);
    })) << gdk_rgba_to_string(&frame);
  }
}

}  // namespace
}  // namespace updater

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  // The update log's host: a closed port on loopback, so the web view
  // shows its own error page at once and nothing leaves the machine.
  setenv(updater::kUpdateLogHostVariable, "127.0.0.1:9", 1);
  updater::g_displayReady = gtk_init_check(nullptr, nullptr);
  return RUN_ALL_TESTS();
}
