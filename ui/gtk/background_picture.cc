#include "ui/gtk/background_picture.h"

namespace updater {

GObjectPtr<GdkPixbuf> LoadBackgroundPicture() {
  GObjectPtr<GdkPixbufLoader> loader(gdk_pixbuf_loader_new_with_type("jpeg", nullptr));
  if (!loader) return nullptr;
  const bool written = gdk_pixbuf_loader_write(loader.get(), kBackgroundJpeg,
                                               kBackgroundJpegSize, nullptr);
  // Closing is needed either way; it reports a truncated picture.
  const bool closed = gdk_pixbuf_loader_close(loader.get(), nullptr);
  if (!written || !closed) return nullptr;
  GdkPixbuf* picture = gdk_pixbuf_loader_get_pixbuf(loader.get());
  if (picture == nullptr) return nullptr;
  return GObjectPtr<GdkPixbuf>(GDK_PIXBUF(g_object_ref(picture)));
}

}  // namespace updater
