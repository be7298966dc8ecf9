#include "bench/quiet_window.h"

#include <cstdio>

#include "text/codepage.h"

namespace updater::bench {

void QuietWindow::SetCaption(Control control, std::string_view text) {
  model_.SetText(control, text);
  captionSets_.fetch_add(1, std::memory_order_relaxed);
}

void QuietWindow::SetContent(Control control, std::string_view text) {
  model_.SetText(control, text);
}

void QuietWindow::SetPosition(Control control, int32_t value) {
  if (control != Control::进度条1) return;
  model_.SetPosition(value);
  positionSets_.fetch_add(1, std::memory_order_relaxed);
}

void QuietWindow::ShowMessageBox(std::string_view text, std::string_view title) {
  std::fprintf(stderr, "message box %s: %s\n", GbkToUtf8(title).c_str(), GbkToUtf8(text).c_str());
}

}  // namespace updater::bench
