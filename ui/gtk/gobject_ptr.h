// Owning pointers for GLib objects: one reference, dropped on destruction.
#pragma once

#include <glib-object.h>

#include <memory>

namespace updater {

struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object != nullptr) g_object_unref(object);
  }
};

// Holds a reference the caller already owns (a new object, or g_object_ref).
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

}  // namespace updater
