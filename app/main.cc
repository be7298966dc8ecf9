// The program's entry on Linux: GTK, the HTTP client and the window are set
// up, then the shell takes over and never returns.
#include <gtk/gtk.h>
#include <glib-unix.h>

#include <clocale>
#include <csignal>

#include "app/startup.h"
#include "download/curl/curl_http_client.h"
#include "download/download_to_file.h"
#include "ui/gtk/gtk_updater_window.h"
#include "ui/updater_window.h"

// The version block, as an ELF note (`readelf -n` lists it): owner
// "Tavrix", type 1, the description the version strings one after another.
__asm__(
    ".pushsection .note.tavrix.version,\"a\",@note\n"
    ".balign 4\n"
    ".long 2f - 1f\n"
    ".long 4f - 3f\n"
    ".long 1\n"
    "1: .asciz \"Tavrix\"\n"
    "2: .balign 4\n"
    "3: .ascii \"FileVersion=1.0.0.0\\0\"\n"
    ".ascii \"ProductVersion=1.0.0.0\\0\"\n"
    ".ascii \"ProductName=Tavrix更新程序\\0\"\n"
    "4: .balign 4\n"
    ".popsection\n");

namespace {

// SIGTERM is the system closing the window: the will-be-destroyed path.
gboolean OnTerminate(gpointer window) {
  static_cast<updater::GtkUpdaterWindow*>(window)->RequestClose();
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main() {
  // The updater takes no command line, so GTK sees none either.
  gtk_init(nullptr, nullptr);
  // Numbers become texts with "." whatever the user's region.
  std::setlocale(LC_NUMERIC, "C");

  // Both live until the process ends, which never runs their destructors.
  static updater::CurlHttpClient httpClient;
  updater::SetDefaultHttpClient(&httpClient);
  static updater::GtkUpdaterWindow window;
  updater::SetTheWindow(&window);

  g_unix_signal_add(SIGTERM, OnTerminate, &window);
  updater::RunUpdater();
}
