#include "ui/control_model.h"

#include <algorithm>

#include "text/literals.h"

namespace updater {

namespace {
constexpr size_t Index(Control control) { return static_cast<size_t>(control); }
}  // namespace

ControlModel::ControlModel() {
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

bool ControlModel::MarkChanged(Control control) {
  const bool wasClean = changed_.none();
  changed_.set(Index(control));
  return wasClean;
}

bool ControlModel::SetText(Control control, std::string_view text) {
  std::lock_guard lock(mutex_);
  texts_[Index(control)].assign(text);
  return MarkChanged(control);
}

bool ControlModel::SetEnabled(Control control, bool enabled) {
  std::lock_guard lock(mutex_);
  enabled_[Index(control)] = enabled;
  return MarkChanged(control);
}

bool ControlModel::SetPosition(int32_t value) {
  std::lock_guard lock(mutex_);
  position_ = std::clamp<int32_t>(value, 0, kPositionLimit);
  return MarkChanged(Control::进度条1);
}

std::string ControlModel::Text(Control control) const {
  std::lock_guard lock(mutex_);
  return texts_[Index(control)];
}

bool ControlModel::Enabled(Control control) const {
  std::lock_guard lock(mutex_);
  return enabled_[Index(control)];
}

int32_t ControlModel::Position() const {
  std::lock_guard lock(mutex_);
  return position_;
}

ControlModel::Changes ControlModel::TakeChanges() {
  Changes changes;
  std::lock_guard lock(mutex_);
  changes.changed = changed_;
  for (size_t i = 0; i < texts_.size(); ++i) {
    if (changed_.test(i)) changes.texts[i] = texts_[i];
  }
  changes.enabled = enabled_;
  changes.position = position_;
  changed_.reset();
  return changes;
}

ControlModel::Changes ControlModel::Everything() const {
  Changes changes;
  std::lock_guard lock(mutex_);
  changes.changed.set();
  changes.texts = texts_;
  changes.enabled = enabled_;
  changes.position = position_;
  return changes;
}

int32_t ShownPosition(int32_t storedPosition) {
  return std::clamp<int32_t>(storedPosition, 0, kProgressRange);
}

}  // namespace updater
