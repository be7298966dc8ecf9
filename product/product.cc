// A stand-in for the product that the updater updates: a small window that
// shows its version, so the demo and the end-to-end tests have a real
// program to end, replace and start. Built once per version (PRODUCT_VERSION).
//
// TAVRIX_PRODUCT_TITLE, when set, replaces the window title, so a test can
// give the product a title by which the updater finds it.
#include <gtk/gtk.h>

#include <cstdlib>
#include <string>

namespace {

gboolean QuitOnEscape(GtkWidget*, GdkEventKey* event, gpointer) {
  if (event->keyval == GDK_KEY_Escape) gtk_main_quit();
  return FALSE;
}

}  // namespace

int main(int argc, char** argv) {
  if (!gtk_init_check(&argc, &argv)) return 1;
  const std::string version = PRODUCT_VERSION;
  const char* titleOverride = std::getenv("TAVRIX_PRODUCT_TITLE");
  const std::string title = titleOverride ? titleOverride : "Tavrix V" + version;

  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), title.c_str());
  gtk_window_set_default_size(GTK_WINDOW(window), 360, 200);
  gtk_window_move(GTK_WINDOW(window), 20, 20);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  g_signal_connect(window, "key-press-event", G_CALLBACK(QuitOnEscape), nullptr);

  GtkWidget* label = gtk_label_new(nullptr);
  const std::string markup =
      "<span size='xx-large' weight='bold'>Tavrix</span>\n<span size='x-large'>版本 " + version +
      "</span>";
  gtk_label_set_markup(GTK_LABEL(label), markup.c_str());
  gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
  gtk_container_add(GTK_CONTAINER(window), label);

  gtk_widget_show_all(window);
  gtk_main();
  return 0;
}
