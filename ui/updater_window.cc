#include "ui/updater_window.h"

#include <cstdlib>

namespace updater {

namespace {
UpdaterWindow* g_window = nullptr;
}

UpdaterWindow& TheWindow() {
  if (g_window == nullptr) std::abort();  // a start-up ordering fault, not a runtime condition
  return *g_window;
}

void SetTheWindow(UpdaterWindow* window) { g_window = window; }

}  // namespace updater
