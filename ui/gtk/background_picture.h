// The window's background picture, a 500x430 baseline JPEG compiled into
// the program (assets/background.jpg, embedded at build time).
#pragma once

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstddef>

#include "ui/gtk/gobject_ptr.h"

namespace updater {

// The JPEG's bytes, from the generated background_picture_data.cc.
extern const unsigned char kBackgroundJpeg[];
extern const std::size_t kBackgroundJpegSize;

// The decoded picture; none when it cannot be decoded (the window then
// shows its plain background colour instead). Window's thread.
GObjectPtr<GdkPixbuf> LoadBackgroundPicture();

}  // namespace updater
