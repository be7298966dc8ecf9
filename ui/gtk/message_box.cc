#include "ui/gtk/message_box.h"

#include <gtk/gtk.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

#include "ui/gtk/window_styles.h"

namespace updater {

namespace {

GtkWidget* NewMessageBox(const std::string& text, const std::string& title, int32_t skin) {
  GtkWidget* box = gtk_message_dialog_new(nullptr, GtkDialogFlags(0), GTK_MESSAGE_OTHER,
                                          GTK_BUTTONS_OK, "%s", text.c_str());
  gtk_window_set_title(GTK_WINDOW(box), title.c_str());
  gtk_window_set_position(GTK_WINDOW(box), GTK_WIN_POS_CENTER);
  gtk_window_set_resizable(GTK_WINDOW(box), FALSE);
  ApplySkin(gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_OK), skin);
  return box;
}

struct WorkerBox {
  std::string text;
  std::string title;
  int32_t skin = 0;
  std::mutex mutex;
  std::condition_variable dismissed;
  bool done = false;
};

void OnWorkerBoxResponse(GtkDialog* box, gint, gpointer data) {
  auto* request = static_cast<WorkerBox*>(data);
  gtk_widget_destroy(GTK_WIDGET(box));
  // Notified under the lock: the request lives on the worker's stack, and
  // a worker that woke on its own and saw `done` would otherwise be free to
  // destroy it before the notification reaches it.
  std::lock_guard lock(request->mutex);
  request->done = true;
  request->dismissed.notify_one();
}

gboolean ShowWorkerBox(gpointer data) {
  auto* request = static_cast<WorkerBox*>(data);
  GtkWidget* box = NewMessageBox(request->text, request->title, request->skin);
  g_signal_connect(box, "response", G_CALLBACK(OnWorkerBoxResponse), request);
  gtk_widget_show(box);
  return G_SOURCE_REMOVE;
}

void LogUnlessParentlessNote(const gchar* domain, GLogLevelFlags level, const gchar* message,
                             gpointer) {
  if (message != nullptr && std::strstr(message, "without a transient parent") != nullptr) {
    return;
  }
  g_log_default_handler(domain, level, message, nullptr);
}

}  // namespace

void RunModalMessageBox(const std::string& text, const std::string& title, int32_t skin) {
  GtkWidget* box = NewMessageBox(text, title, skin);
  gtk_window_set_modal(GTK_WINDOW(box), TRUE);
  gtk_dialog_run(GTK_DIALOG(box));
  gtk_widget_destroy(box);
}

void ShowMessageBoxForWorker(const std::string& text, const std::string& title,
                             int32_t skin) {
  // The request lives on this stack until the window's thread has said
  // "dismissed"; should the program end first, the process takes both.
  WorkerBox request;
  request.text = text;
  request.title = title;
  request.skin = skin;
  // Always through a source: invoking could run the box on this thread
  // whenever the window's thread is between two loop iterations.
  g_idle_add_full(G_PRIORITY_DEFAULT, ShowWorkerBox, &request, nullptr);
  std::unique_lock lock(request.mutex);
  request.dismissed.wait(lock, [&] { return request.done; });
}

void QuietenParentlessDialogNote() {
  static bool done = false;
  if (done) return;
  g_log_set_handler("Gtk", G_LOG_LEVEL_MESSAGE, LogUnlessParentlessNote, nullptr);
  done = true;
}

}  // namespace updater
