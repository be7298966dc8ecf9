#include "platform/processes.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/posix/process_list.h"
#include "platform/posix/unique_fd.h"
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
// process. Without a display there is nothing to wait for; a product that
// shows no window is waited for until `waitMs` have passed or it has ended.
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

// The child's side of the start, between fork and exec: async-signal-safe
// calls only. A failure is told to the parent through `report` as errno.
[[noreturn]] void BecomeProduct(const char* path, char* const argv[], int report) {
  // A session of its own, so the product outlives us and our terminal.
  setsid();
  // Signals as a fresh process has them. (posix_spawn cannot do this: it
  // leaves the C library's two internal signals ignored in the child.)
  struct sigaction byDefault {};
  byDefault.sa_handler = SIG_DFL;
  for (int number = 1; number < NSIG; ++number) sigaction(number, &byDefault, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // Everything of ours is close-on-exec already; this also covers what a
  // library opened without it. The standard three are passed on.
  if (report > 3) close_range(3, static_cast<unsigned>(report) - 1, 0);
  close_range(static_cast<unsigned>(report < 3 ? 3 : report + 1), ~0u, 0);
  execve(path, argv, environ);
  const int error = errno;
  ssize_t ignored = write(report, &error, sizeof error);
  (void)ignored;
  _exit(127);
}

}  // namespace

bool EndProcessByName(std::string_view name) {
  if (name.empty()) return false;
  const std::string wanted = GbkToUtf8(name);
  return EndOwnerOfWindowTitled(wanted) || EndFirstProcessNamed(wanted);
}

bool StartProduct(std::string_view path, uint32_t waitMs) {
  const std::string osPath = OsPath(path);
  if (osPath.empty()) return false;
  std::string argument0 = osPath;
  char* argv[] = {argument0.data(), nullptr};
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) return false;
  const pid_t pid = fork();
  if (pid == 0) BecomeProduct(osPath.c_str(), argv, report[1]);
  close(report[1]);
  UniqueFd reportEnd(report[0]);
  if (pid < 0) return false;
  // The report end closes at a successful exec, so this read sees either
  // the end of the pipe or the error of the exec.
  int error = 0;
  ssize_t got;
  do {
    got = read(reportEnd.Get(), &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  if (got > 0) {
    waitpid(pid, nullptr, 0);
    return false;
  }
  // The product outlives the updater, so nothing reaps it here; once the
  // updater has ended, the system does.
  WaitForWindowOf(pid, waitMs);
  return true;
}

}  // namespace updater
