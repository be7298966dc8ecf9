#include "ui/gtk/window_styles.h"

#include <string>

namespace updater {

namespace {

thread_local int32_t t_skin = 0;

constexpr int32_t kFirstSkin = 1;
constexpr int32_t kLastSkin = 3;

// Provider priority above the theme's, so these rules win in every state.
constexpr char kStyleSheet[] = R"css(
#tavrix-close-button {
  background-color: rgb(128, 160, 128);
  background-image: none;
  color: rgb(255, 255, 255);
  border: none;
  border-radius: 0;
  box-shadow: none;
  text-shadow: none;
  outline: none;
  padding: 0;
  margin: 0;
  min-width: 0;
  min-height: 0;
}
#tavrix-close-button:hover,
#tavrix-close-button:focus {
  color: rgb(255, 0, 0);
}

#tavrix-update-button {
  padding: 0;
  margin: 0;
  min-width: 0;
  min-height: 0;
}

#tavrix-progress-bar,
#tavrix-progress-bar trough,
#tavrix-progress-bar progress {
  min-height: 0;
  min-width: 0;
  margin: 0;
  padding: 0;
  border-radius: 0;
  box-shadow: none;
}
/* The bar is 26 pixels high: 24 of segments inside a 1-pixel frame. */
#tavrix-progress-bar trough {
  min-height: 24px;
  background-color: rgb(236, 236, 236);
  background-image: none;
  border: 1px solid rgb(188, 188, 188);
}
#tavrix-progress-bar progress {
  min-height: 24px;
  border: none;
  background-color: transparent;
  background-image: repeating-linear-gradient(to right,
      rgb(6, 176, 37) 0px, rgb(6, 176, 37) 8px,
      transparent 8px, transparent 10px);
}

#tavrix-edit-box {
  min-height: 0;
  padding: 0 3px;
}

/* The skins: rounded gradient push buttons, edit boxes with a coloured frame. */
button.tavrix-skin-1, button.tavrix-skin-2, button.tavrix-skin-3 {
  border-radius: 3px;
  box-shadow: none;
  text-shadow: none;
  color: rgb(0, 0, 0);
}
button.tavrix-skin-1 {
  border: 1px solid rgb(123, 158, 189);
  background-image: linear-gradient(to bottom, rgb(252, 253, 255), rgb(214, 228, 242));
}
button.tavrix-skin-1:hover {
  background-image: linear-gradient(to bottom, rgb(255, 255, 255), rgb(196, 218, 240));
}
button.tavrix-skin-1:active {
  background-image: linear-gradient(to bottom, rgb(196, 218, 240), rgb(232, 240, 250));
}
button.tavrix-skin-2 {
  border: 1px solid rgb(164, 185, 127);
  background-image: linear-gradient(to bottom, rgb(253, 255, 248), rgb(222, 234, 196));
}
button.tavrix-skin-2:hover {
  background-image: linear-gradient(to bottom, rgb(255, 255, 255), rgb(206, 226, 168));
}
button.tavrix-skin-2:active {
  background-image: linear-gradient(to bottom, rgb(206, 226, 168), rgb(240, 246, 226));
}
button.tavrix-skin-3 {
  border: 1px solid rgb(198, 197, 215);
  background-image: linear-gradient(to bottom, rgb(255, 255, 255), rgb(228, 227, 238));
}
button.tavrix-skin-3:hover {
  background-image: linear-gradient(to bottom, rgb(255, 255, 255), rgb(214, 212, 232));
}
button.tavrix-skin-3:active {
  background-image: linear-gradient(to bottom, rgb(214, 212, 232), rgb(244, 244, 250));
}
button.tavrix-skin-1:disabled, button.tavrix-skin-2:disabled, button.tavrix-skin-3:disabled {
  color: rgb(150, 150, 150);
  background-image: none;
  background-color: rgb(240, 240, 240);
}
entry.tavrix-skin-1 { border: 1px solid rgb(123, 158, 189); border-radius: 0; box-shadow: none; }
entry.tavrix-skin-2 { border: 1px solid rgb(164, 185, 127); border-radius: 0; box-shadow: none; }
entry.tavrix-skin-3 { border: 1px solid rgb(198, 197, 215); border-radius: 0; box-shadow: none; }
)css";

std::string SkinClass(int32_t style) { return "tavrix-skin-" + std::to_string(style); }

}  // namespace

void InstallWindowStyles() {
  static bool installed = false;
  if (installed) return;
  GdkScreen* screen = gdk_screen_get_default();
  if (screen == nullptr) return;
  GtkCssProvider* provider = gtk_css_provider_new();
  gtk_css_provider_load_from_data(provider, kStyleSheet, -1, nullptr);
  gtk_style_context_add_provider_for_screen(screen, GTK_STYLE_PROVIDER(provider),
                                            GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  g_object_unref(provider);  // the screen keeps it
  installed = true;
}

void SetThreadSkin(int32_t style) {
  t_skin = (style >= kFirstSkin && style <= kLastSkin) ? style : 0;
}

int32_t ThreadSkin() { return t_skin; }

void ApplySkin(GtkWidget* widget, int32_t style) {
  if (widget == nullptr) return;
  GtkStyleContext* context = gtk_widget_get_style_context(widget);
  for (int32_t skin = kFirstSkin; skin <= kLastSkin; ++skin) {
    gtk_style_context_remove_class(context, SkinClass(skin).c_str());
  }
  if (style >= kFirstSkin && style <= kLastSkin) {
    gtk_style_context_add_class(context, SkinClass(style).c_str());
  }
}

}  // namespace updater
