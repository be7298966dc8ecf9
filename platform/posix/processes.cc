#include "platform/processes.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/posix/process_list.h"
#include "platform/posix/x11_windows.h"
#include "platform/run_directory.h"
#include "text/codepage.h"

extern char** environ;

namespace updater {

namespace {

// Both sides are UTF-8, where every byte of a multi-byte character is 0x80
// or above: folding ASCII letters alone can never touch part of a character.
bool SameNameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + ('a' - 'A'));
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + ('a' - 'A'));
    if (x != y) return false;
  }
  return true;
}

bool IsCandidate(pid_t pid) { return pid > 0 && pid != getpid() && kill(pid, 0) == 0; }

bool EndOwnerOfWindowTitled(const std::string& title) {
  std::unique_ptr<X11Display> display = X11Display::Open();
  if (!display) return false;
  for (const TopLevelWindow& window : display->TopLevelWindows()) {
    if (!SameNameIgnoringAsciiCase(window.title, title) || !IsCandidate(window.pid)) continue;
    if (KillProcess(window.pid)) return true;
  }
  return false;
}

bool EndFirstProcessNamed(const std::string& name) {
  for (pid_t pid : ProcessIdsAscending()) {
    if (!IsCandidate(pid) || !SameNameIgnoringAsciiCase(ExecutableFileName(pid), name)) continue;
    // Only the first one: later processes of the same name keep running.
    return KillProcess(pid, name, &SameNameIgnoringAsciiCase);
  }
  return false;
}

// True once the child has exited; it is left to be reaped by whoever waits
// for it (WNOWAIT), so that this call reaps nothing.
bool HasExited(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

// The nearest thing to "ready for input": a top-level window of the new
// process. A product without a window, or no display, is not waited for.
void WaitForWindowOf(pid_t pid, uint32_t waitMs) {
  if (waitMs == 0) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  std::unique_ptr<X11Display> display = X11Display::Open();
  if (!display) return;
  while (std::chrono::steady_clock::now() < deadline && !HasExited(pid)) {
    for (const TopLevelWindow& window : display->TopLevelWindows()) {
      if (window.pid == pid) return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

struct SpawnAttributes {
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t actions;
  SpawnAttributes() {
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_init(&actions);
  }
  ~SpawnAttributes() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnAttributes(const SpawnAttributes&) = delete;
  SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

}  // namespace

bool EndProcessByName(std::string_view name) {
  if (name.empty()) return false;
  const std::string wanted = GbkToUtf8(name);
  return EndOwnerOfWindowTitled(wanted) || EndFirstProcessNamed(wanted);
}

bool StartProduct(std::string_view path, uint32_t waitMs) {
  const std::string osPath = OsPath(path);
  if (osPath.empty()) return false;
  SpawnAttributes spawn;
  // A session of its own, so the product outlives us and our terminal; the
  // signal state we may have changed is not its business.
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setflags(&spawn.attributes,
                           POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
  posix_spawnattr_setsigdefault(&spawn.attributes, &all);
  posix_spawnattr_setsigmask(&spawn.attributes, &none);
  // Every descriptor of ours is close-on-exec already; this also covers any
  // that a library opened without it. The standard three are passed on.
  posix_spawn_file_actions_addclosefrom_np(&spawn.actions, 3);
  std::string argument0 = osPath;
  char* argv[] = {argument0.data(), nullptr};
  pid_t pid = 0;
  // The product outlives the updater, so nothing reaps it here; once the
  // updater has ended, the system does.
  if (posix_spawn(&pid, osPath.c_str(), &spawn.actions, &spawn.attributes, argv, environ) != 0) {
    return false;
  }
  WaitForWindowOf(pid, waitMs);
  return true;
}

}  // namespace updater
