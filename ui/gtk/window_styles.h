// The window's style sheet and the control-skinning switch.
//
// The style sheet gives the flat close button, the segmented progress bar
// and the compact update button their look, and holds the three skins. A
// skin is a style class ("tavrix-skin-1".."3") put on the push buttons and
// edit boxes it restyles. Window's thread, except where said.
#pragma once

#include <gtk/gtk.h>

#include <cstdint>

namespace updater {

// Widget names the style sheet addresses.
inline constexpr char kCloseButtonName[] = "tavrix-close-button";
inline constexpr char kUpdateButtonName[] = "tavrix-update-button";
inline constexpr char kProgressBarName[] = "tavrix-progress-bar";
inline constexpr char kEditBoxName[] = "tavrix-edit-box";

// Installs the style sheet for the default screen, once per process.
void InstallWindowStyles();

// The skinning switch of the calling thread: 1..3 on with that style, any
// other number off (0). Any thread; each thread has its own.
void SetThreadSkin(int32_t style);
int32_t ThreadSkin();

// Puts `widget` in skin `style` (1..3), or in none for any other number.
void ApplySkin(GtkWidget* widget, int32_t style);

}  // namespace updater
