// A window that keeps the state of its controls like the real one and draws
// nothing: captions, content, enabled flags and the position (limited to
// 0..kPositionLimit), under one mutex so that a worker may call it. It keeps
// no record of the calls, only how many sets it took, so that a benchmark
// can tell that no report was dropped. A message box is printed to stderr
// and returns at once.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "ui/updater_window.h"

namespace updater::bench {

class QuietWindow final : public UpdaterWindow {
 public:
  QuietWindow();

  void SetCaption(Control control, std::string_view text) override;
  std::string ReadCaption(Control control) override;
  void SetContent(Control control, std::string_view text) override;
  std::string ReadContent(Control control) override;
  void Disable(Control control) override;
  void Enable(Control control) override;
  void SetPosition(Control control, int32_t value) override;
  int32_t ReadPosition(Control control) override;
  void ShowMessageBox(std::string_view text, std::string_view title) override;
  void SwitchSkinning(int32_t) override {}
  void Load(const WindowEvents&) override {}
  void RunMessageLoop() override {}
  void StopEvents() override {}
  void Release() override {}

  // Sets of a caption and of the position since construction.
  int64_t CaptionSets() const;
  int64_t PositionSets() const;

 private:
  mutable std::mutex mutex_;
  std::array<std::string, kControlCount> texts_;
  std::array<bool, kControlCount> enabled_;
  int32_t position_ = 0;
  int64_t captionSets_ = 0;
  int64_t positionSets_ = 0;
};

}  // namespace updater::bench
