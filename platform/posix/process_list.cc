#include "platform/posix/process_list.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "platform/posix/unique_fd.h"

namespace updater {

namespace {

std::string ProcEntry(pid_t pid, const char* leaf) {
  return "/proc/" + std::to_string(pid) + "/" + leaf;
}

std::string BaseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

bool ReadLink(const std::string& link, std::string* target) {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = readlink(link.c_str(), buffer.data(), buffer.size());
    if (n < 0) return false;
    if (static_cast<size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<size_t>(n));
      *target = std::move(buffer);
      return true;
    }
    if (buffer.size() >= 65536) return false;
    buffer.resize(buffer.size() * 2);
  }
}

std::string FirstArgument(pid_t pid) {
  UniqueFd fd(open(ProcEntry(pid, "cmdline").c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.Valid()) return std::string();
  char buffer[4096];
  ssize_t n;
  do {
    n = read(fd.Get(), buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return std::string();
  return std::string(buffer, strnlen(buffer, static_cast<size_t>(n)));
}

bool SignalOnce(pid_t pid, int pidfd) {
  if (pidfd >= 0) return syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0;
  return kill(pid, SIGKILL) == 0;
}

}  // namespace

std::vector<pid_t> ProcessIdsAscending() {
  std::vector<pid_t> ids;
  struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
  };
  std::unique_ptr<DIR, DirCloser> proc(opendir("/proc"));
  if (!proc) return ids;
  while (const dirent* entry = readdir(proc.get())) {
    const char* name = entry->d_name;
    if (*name < '1' || *name > '9') continue;
    char* end = nullptr;
    const long id = strtol(name, &end, 10);
    if (*end == '\0' && id > 0) ids.push_back(static_cast<pid_t>(id));
  }
  // /proc lists in no promised order; the first match must be the lowest id.
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::string ExecutableFileName(pid_t pid) {
  const std::string exeLink = ProcEntry(pid, "exe");
  std::string target;
  if (!ReadLink(exeLink, &target)) return BaseName(FirstArgument(pid));
  // An executable deleted (or replaced) while it runs reads "path (deleted)".
  constexpr std::string_view kDeleted = " (deleted)";
  struct stat info {};
  if (target.size() > kDeleted.size() && target.ends_with(kDeleted) &&
      stat(exeLink.c_str(), &info) == 0 && info.st_nlink == 0) {
    target.resize(target.size() - kDeleted.size());
  }
  return BaseName(target);
}

bool KillProcess(pid_t pid, const std::string& stillNamed,
                 bool (*same)(std::string_view, std::string_view)) {
  if (pid <= 0) return false;
  UniqueFd pidfd(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
  if (!pidfd.Valid() && errno != ENOSYS) return false;
  // Checked while the pidfd holds on to the process: if the id has been
  // recycled since, the check or the signal misses, never another process.
  if (!stillNamed.empty() && same != nullptr && !same(ExecutableFileName(pid), stillNamed)) {
    return false;
  }
  return SignalOnce(pid, pidfd.Get());
}

}  // namespace updater
