// What the window's controls show, as the program last set it.
//
// Every control operation lands here at once, under one mutex, from either
// thread: a read that follows a set sees it, and sets keep their order. The
// window's thread takes the changes and paints them at its own pace, so a
// worker that reports progress thousands of times a second never waits for
// the window. Texts are code page 936 bytes, as the program gives them.
// Portable: every window implementation (and every test window) keeps its
// state here.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "ui/updater_window.h"

namespace updater {

class ControlModel {
 public:
  // The initial texts and values of the window's controls.
  ControlModel();
  ControlModel(const ControlModel&) = delete;
  ControlModel& operator=(const ControlModel&) = delete;

  // Each set returns true when it turned a clean model dirty: the caller
  // then schedules one paint, which TakeChanges makes clean again.
  // The caption of a label or a button; for 编辑框1 its content.
  bool SetText(Control control, std::string_view text);
  bool SetEnabled(Control control, bool enabled);
  // 进度条1: stores the value limited to 0..kPositionLimit.
  bool SetPosition(int32_t value);

  std::string Text(Control control) const;
  bool Enabled(Control control) const;
  int32_t Position() const;

  // The state of every control changed since the last call; marks the
  // model clean. Window's thread.
  struct Changes {
    std::bitset<kControlCount> changed;
    std::array<std::string, kControlCount> texts;  // of the changed controls
    std::array<bool, kControlCount> enabled{};
    int32_t position = 0;
  };
  Changes TakeChanges();
  // The whole state, as if every control had changed; leaves dirtiness alone.
  Changes Everything() const;

 private:
  bool MarkChanged(Control control);  // mutex held

  mutable std::mutex mutex_;
  std::array<std::string, kControlCount> texts_;
  std::array<bool, kControlCount> enabled_;
  int32_t position_ = 0;
  std::bitset<kControlCount> changed_;
};

// The position as the bar shows it: limited to 0..kProgressRange.
int32_t ShownPosition(int32_t storedPosition);

}  // namespace updater
