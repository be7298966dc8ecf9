#include "bench/quiet_window.h"

#include <algorithm>
#include <cstdio>

#include "text/codepage.h"
#include "text/literals.h"

namespace updater::bench {

namespace {
constexpr size_t Index(Control control) { return static_cast<size_t>(control); }
}  // namespace

QuietWindow::QuietWindow() {
  namespace l = literals;
  texts_[Index(Control::标签5)] = l::kInitialProgress;
  texts_[Index(Control::标签1)] = l::kInitialLocalVersion;
  texts_[Index(Control::标签2)] = l::kInitialLatestVersion;
  texts_[Index(Control::标签4)] = l::kInitialDownloading;
  texts_[Index(Control::标签6)] = l::kInitialFileSize;
  texts_[Index(Control::标签7)] = l::kInitialReceived;
  texts_[Index(Control::标签8)] = l::kInitialElapsed;
  texts_[Index(Control::标签9)] = l::kInitialSpeed;
  texts_[Index(Control::标签10)] = l::kInitialRemaining;
  texts_[Index(Control::超级按钮1)] = l::kCloseButtonCaption;
  texts_[Index(Control::按钮2)] = l::kStartUpdate;
  enabled_.fill(true);
}

void QuietWindow::SetCaption(Control control, std::string_view text) {
  std::lock_guard lock(mutex_);
  texts_[Index(control)].assign(text);
  ++captionSets_;
}

std::string QuietWindow::ReadCaption(Control control) {
  std::lock_guard lock(mutex_);
  return texts_[Index(control)];
}

void QuietWindow::SetContent(Control control, std::string_view text) {
  std::lock_guard lock(mutex_);
  texts_[Index(control)].assign(text);
}

std::string QuietWindow::ReadContent(Control control) {
  std::lock_guard lock(mutex_);
  return texts_[Index(control)];
}

void QuietWindow::Disable(Control control) {
  std::lock_guard lock(mutex_);
  enabled_[Index(control)] = false;
}

void QuietWindow::Enable(Control control) {
  std::lock_guard lock(mutex_);
  enabled_[Index(control)] = true;
}

void QuietWindow::SetPosition(Control, int32_t value) {
  std::lock_guard lock(mutex_);
  position_ = std::clamp<int32_t>(value, 0, kPositionLimit);
  ++positionSets_;
}

int32_t QuietWindow::ReadPosition(Control) {
  std::lock_guard lock(mutex_);
  return position_;
}

void QuietWindow::ShowMessageBox(std::string_view text, std::string_view title) {
  std::fprintf(stderr, "message box %s: %s\n", GbkToUtf8(title).c_str(), GbkToUtf8(text).c_str());
}

int64_t QuietWindow::CaptionSets() const {
  std::lock_guard lock(mutex_);
  return captionSets_;
}

int64_t QuietWindow::PositionSets() const {
  std::lock_guard lock(mutex_);
  return positionSets_;
}

}  // namespace updater::bench
