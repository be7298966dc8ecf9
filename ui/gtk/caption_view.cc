#include "ui/gtk/caption_view.h"

#include <memory>

namespace updater {

namespace {

constexpr char kStateKey[] = "tavrix-caption";

struct CaptionState {
  CaptionStyle style;
  std::string text;  // one line, UTF-8
  PangoFontDescription* font = nullptr;
  AtkRole role = ATK_ROLE_INVALID;

  ~CaptionState() {
    if (font != nullptr) pango_font_description_free(font);
  }
};

CaptionState* StateOf(GtkWidget* view) {
  return static_cast<CaptionState*>(g_object_get_data(G_OBJECT(view), kStateKey));
}

void FreeState(gpointer state) { delete static_cast<CaptionState*>(state); }

gboolean DrawCaption(GtkWidget* view, cairo_t* cr, gpointer) {
  const CaptionState* state = StateOf(view);
  if (state == nullptr) return FALSE;
  const int width = gtk_widget_get_allocated_width(view);
  const int height = gtk_widget_get_allocated_height(view);

  cairo_save(cr);
  cairo_rectangle(cr, 0, 0, width, height);
  cairo_clip(cr);
  if (state->style.background) {
    gdk_cairo_set_source_rgba(cr, &*state->style.background);
    cairo_paint(cr);
  }
  if (!state->text.empty()) {
    PangoLayout* layout = gtk_widget_create_pango_layout(view, state->text.c_str());
    if (state->font != nullptr) pango_layout_set_font_description(layout, state->font);
    pango_layout_set_width(layout, -1);  // one line, never wrapped or shortened
    PangoRectangle ink;
    PangoRectangle logical;
    pango_layout_get_pixel_extents(layout, &ink, &logical);
    const int x = state->style.centred ? (width - logical.width) / 2 : 0;
    const int y = (height - logical.height) / 2;
    GdkRGBA colour;
    if (state->style.colour) {
      colour = *state->style.colour;
    } else {
      GtkStyleContext* context = gtk_widget_get_style_context(view);
      gtk_style_context_get_color(context, gtk_style_context_get_state(context), &colour);
    }
    gdk_cairo_set_source_rgba(cr, &colour);
    cairo_move_to(cr, x - logical.x, y - logical.y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
  }
  cairo_restore(cr);
  return FALSE;
}

}  // namespace

std::string OneLine(std::string_view utf8) {
  std::string line;
  line.reserve(utf8.size());
  for (char c : utf8) {
    if (c != '\r' && c != '\n') line.push_back(c);
  }
  return line;
}

std::string WithoutTrailingLineEnds(std::string_view utf8) {
  while (!utf8.empty() && (utf8.back() == '\r' || utf8.back() == '\n')) {
    utf8.remove_suffix(1);
  }
  return std::string(utf8);
}

GtkWidget* CaptionViewNew(const CaptionStyle& style, int width, int height,
                          AtkRole accessibleRole) {
  GtkWidget* view = gtk_drawing_area_new();
  // No window of its own: it paints onto its parent (so a transparent
  // caption shows the picture beneath) and presses go to the parent.
  gtk_widget_set_has_window(view, FALSE);
  gtk_widget_set_size_request(view, width, height);

  auto state = std::make_unique<CaptionState>();
  state->style = style;
  state->role = accessibleRole;
  if (style.font != nullptr) state->font = pango_font_description_from_string(style.font);
  g_object_set_data_full(G_OBJECT(view), kStateKey, state.release(), FreeState);
  g_signal_connect(view, "draw", G_CALLBACK(DrawCaption), nullptr);

  if (accessibleRole != ATK_ROLE_INVALID) {
    atk_object_set_role(gtk_widget_get_accessible(view), accessibleRole);
  }
  return view;
}

void CaptionViewSetText(GtkWidget* view, std::string_view utf8) {
  CaptionState* state = StateOf(view);
  if (state == nullptr) return;
  std::string line = OneLine(utf8);
  if (state->role != ATK_ROLE_INVALID) {
    const std::string name = WithoutTrailingLineEnds(utf8);
    AtkObject* accessible = gtk_widget_get_accessible(view);
    const char* current = atk_object_get_name(accessible);
    if (current == nullptr || name != current) atk_object_set_name(accessible, name.c_str());
  }
  if (line == state->text) return;
  state->text = std::move(line);
  gtk_widget_queue_draw(view);
}

}  // namespace updater
