#include "app/end_program.h"

#include <atomic>

#include "platform/files.h"
#include "platform/program_exit.h"
#include "ui/updater_window.h"

namespace updater {

namespace {
void (*g_atEnd)() = nullptr;
std::atomic<bool> g_ending{false};
}  // namespace

void RegisterAtEnd(void (*routine)()) { g_atEnd = routine; }

void EndProgram(int32_t exitCode) {
  UpdaterWindow& window = TheWindow();
  window.StopEvents();
  // A second entry (a handler that raced the first) must not release twice.
  if (!g_ending.exchange(true) && g_atEnd != nullptr) g_atEnd();
  CloseAllFiles();
  window.Release();
  ExitProcessNow(exitCode);
}

}  // namespace updater
