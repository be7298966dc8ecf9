// A window for unit tests that keeps state like the real one (captions,
// content, enabled, the position with its 0..32767 limit) and records every
// operation in order. Thread-safe, so a test's worker may call it.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "ui/control_model.h"
#include "ui/updater_window.h"

namespace updater::testing {

struct MessageBoxCall {
  std::string text;
  std::string title;
};

class FakeWindow : public UpdaterWindow {
 public:
  FakeWindow();

  void SetCaption(Control control, std::string_view text) override;
  std::string ReadCaption(Control control) override;
  void SetContent(Control control, std::string_view text) override;
  std::string ReadContent(Control control) override;
  void Disable(Control control) override;
  void Enable(Control control) override;
  void SetPosition(Control control, int32_t value) override;
  int32_t ReadPosition(Control control) override;
  void ShowMessageBox(std::string_view text, std::string_view title) override;
  void SwitchSkinning(int32_t style) override;
  void Load(const WindowEvents& events) override;
  void RunMessageLoop() override {}
  void StopEvents() override;
  void Release() override {}

  // State, for assertions.
  std::string Caption(Control control) const;
  bool Enabled(Control control) const;
  int32_t Position() const;
  std::vector<MessageBoxCall> MessageBoxes() const;
  std::vector<std::string> Operations() const;  // "SetCaption 标签6 <text>"...
  int32_t SkinningStyle() const;
  bool Shown() const;

 private:
  ControlModel model_;
  mutable std::mutex mutex_;  // guards what follows
  int32_t skinning_ = 0;
  bool shown_ = false;
  bool stopped_ = false;
  std::vector<MessageBoxCall> boxes_;
  std::vector<std::string> operations_;
};

// Installs a fresh FakeWindow as TheWindow() for one test.
class FakeWindowScope {
 public:
  FakeWindowScope();
  ~FakeWindowScope();
  FakeWindowScope(const FakeWindowScope&) = delete;
  FakeWindowScope& operator=(const FakeWindowScope&) = delete;
  FakeWindow& window() { return window_; }

 private:
  FakeWindow window_;
};

const char* ControlName(Control control);

}  // namespace updater::testing
