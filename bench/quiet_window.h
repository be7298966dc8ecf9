// A window that keeps the state of its controls in the same model as the
// real one (ui/control_model.h: texts, enabled flags, the position limited
// to 0..kPositionLimit, under one mutex) and draws nothing. It keeps no
// record of the calls, only how many sets it took, so that a benchmark can
// tell that no report was dropped. A message box is printed to stderr and
// returns at once. Any thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "ui/control_model.h"
#include "ui/updater_window.h"

namespace updater::bench {

class QuietWindow final : public UpdaterWindow {
 public:
  void SetCaption(Control control, std::string_view text) override;
  std::string ReadCaption(Control control) override { return model_.Text(control); }
  void SetContent(Control control, std::string_view text) override;
  std::string ReadContent(Control control) override { return model_.Text(control); }
  void Disable(Control control) override { model_.SetEnabled(control, false); }
  void Enable(Control control) override { model_.SetEnabled(control, true); }
  void SetPosition(Control control, int32_t value) override;
  int32_t ReadPosition(Control) override { return model_.Position(); }
  void ShowMessageBox(std::string_view text, std::string_view title) override;
  void SwitchSkinning(int32_t) override {}
  void Load(const WindowEvents&) override {}
  void RunMessageLoop() override {}
  void StopEvents() override {}
  void Release() override {}

  // Sets of a caption and of the position since construction.
  int64_t CaptionSets() const { return captionSets_.load(); }
  int64_t PositionSets() const { return positionSets_.load(); }

 private:
  ControlModel model_;
  std::atomic<int64_t> captionSets_{0};
  std::atomic<int64_t> positionSets_{0};
};

}  // namespace updater::bench
