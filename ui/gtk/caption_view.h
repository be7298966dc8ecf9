// A caption drawn on one line inside a fixed box, as the window's labels
// and buttons show their texts: vertically centred, left-aligned or
// centred, clipped at the box's edges (no wrap, no ellipsis). A line end in
// the text starts no new line and shows no glyph; an ampersand is itself.
//
// The widget draws into its parent's window and takes no input, so a press
// on it goes to whatever holds it. Window's thread only.
#pragma once

#include <gtk/gtk.h>

#include <optional>
#include <string>
#include <string_view>

namespace updater {

struct CaptionStyle {
  bool centred = false;              // otherwise left-aligned
  std::optional<GdkRGBA> background; // filled over the whole box; none: transparent
  std::optional<GdkRGBA> colour;     // text colour; none: the style's colour (a button's)
  const char* font = nullptr;        // a Pango font description; none: the GUI font
};

// A new caption box of the given size (floating reference, as GTK widgets).
// With `accessibleRole` other than ATK_ROLE_INVALID the box names itself to
// accessibility with that role and its text; a caption inside a button
// leaves naming to the button.
GtkWidget* CaptionViewNew(const CaptionStyle& style, int width, int height,
                          AtkRole accessibleRole);

// Replaces the text (UTF-8) and redraws.
void CaptionViewSetText(GtkWidget* view, std::string_view utf8);

// The text as one line shows it: every carriage return and line feed left out.
std::string OneLine(std::string_view utf8);
// The text as an accessible name: without its trailing line ends.
std::string WithoutTrailingLineEnds(std::string_view utf8);

inline GdkRGBA Rgb(int red, int green, int blue) {
  return GdkRGBA{red / 255.0, green / 255.0, blue / 255.0, 1.0};
}

}  // namespace updater
