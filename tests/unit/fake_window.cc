#include "tests/unit/fake_window.h"


namespace updater::testing {

const char* ControlName(Control control) {
  static const char* const names[kControlCount] = {
      "标签5", "标签1", "标签2", "标签4", "标签6", "标签7", "标签8", "标签9",
      "标签10", "超文本浏览框1", "外形框2", "编辑框1", "超级按钮1", "进度条1", "按钮2"};
  return names[static_cast<int>(control)];
}

FakeWindow::FakeWindow() = default;

void FakeWindow::SetCaption(Control control, std::string_view text) {
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  model_.SetText(control, text);
  operations_.push_back(std::string("SetCaption ") + ControlName(control) + " " + std::string(text));
}

std::string FakeWindow::ReadCaption(Control control) {
  std::lock_guard lock(mutex_);
  operations_.push_back(std::string("ReadCaption ") + ControlName(control));
  return model_.Text(control);
}

void FakeWindow::SetContent(Control control, std::string_view text) {
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  model_.SetText(control, text);
  operations_.push_back(std::string("SetContent ") + ControlName(control) + " " + std::string(text));
}

std::string FakeWindow::ReadContent(Control control) {
  std::lock_guard lock(mutex_);
  operations_.push_back(std::string("ReadContent ") + ControlName(control));
  return model_.Text(control);
}

void FakeWindow::Disable(Control control) {
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  model_.SetEnabled(control, false);
  operations_.push_back(std::string("Disable ") + ControlName(control));
}

void FakeWindow::Enable(Control control) {
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  model_.SetEnabled(control, true);
  operations_.push_back(std::string("Enable ") + ControlName(control));
}

void FakeWindow::SetPosition(Control control, int32_t value) {
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  model_.SetPosition(value);
  operations_.push_back(std::string("SetPosition ") + ControlName(control) + " " +
                        std::to_string(value));
}

int32_t FakeWindow::ReadPosition(Control control) {
  std::lock_guard lock(mutex_);
  operations_.push_back(std::string("ReadPosition ") + ControlName(control));
  return model_.Position();
}

void FakeWindow::ShowMessageBox(std::string_view text, std::string_view title) {
  std::lock_guard lock(mutex_);
  boxes_.push_back({std::string(text), std::string(title)});
  operations_.push_back("MessageBox " + std::string(title) + " " + std::string(text));
}

void FakeWindow::SwitchSkinning(int32_t style) {
  std::lock_guard lock(mutex_);
  skinning_ = (style >= 1 && style <= 3) ? style : 0;
  operations_.push_back("SwitchSkinning " + std::to_string(style));
}

void FakeWindow::Load(const WindowEvents& events) {
  if (events.created) events.created();
  std::lock_guard lock(mutex_);
  shown_ = true;
}

void FakeWindow::StopEvents() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
}

// The getters take the window's own lock too: a worker's operation (model
// change and its record) is then wholly before or wholly after the read.
std::string FakeWindow::Caption(Control control) const {
  std::lock_guard lock(mutex_);
  return model_.Text(control);
}

bool FakeWindow::Enabled(Control control) const {
  std::lock_guard lock(mutex_);
  return model_.Enabled(control);
}

int32_t FakeWindow::Position() const {
  std::lock_guard lock(mutex_);
  return model_.Position();
}

std::vector<MessageBoxCall> FakeWindow::MessageBoxes() const {
  std::lock_guard lock(mutex_);
  return boxes_;
}

std::vector<std::string> FakeWindow::Operations() const {
  std::lock_guard lock(mutex_);
  return operations_;
}

int32_t FakeWindow::SkinningStyle() const {
  std::lock_guard lock(mutex_);
  return skinning_;
}

bool FakeWindow::Shown() const {
  std::lock_guard lock(mutex_);
  return shown_;
}

FakeWindowScope::FakeWindowScope() { SetTheWindow(&window_); }
FakeWindowScope::~FakeWindowScope() { SetTheWindow(nullptr); }

}  // namespace updater::testing
