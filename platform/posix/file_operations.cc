// Deleting, reading, comparing and installing files by path.
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/files.h"
#include "platform/posix/unique_fd.h"
#include "platform/run_directory.h"

namespace updater {

namespace {

bool SameInode(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool DeleteFileAt(std::string_view path) {
  const std::string osPath = OsPath(path);
  struct stat atPath {};
  if (lstat(osPath.c_str(), &atPath) != 0 || S_ISDIR(atPath.st_mode)) return false;
  // A link is removed as a link; what it points to is none of our business.
  if (S_ISLNK(atPath.st_mode)) return unlink(osPath.c_str()) == 0;

  UniqueFd fd(open(osPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.Valid()) {
    // A file we may not read is still ours to delete when the folder says
    // so; no writer of ours can hold it, as ours are always readable.
    if (errno == EACCES || errno == EPERM) return unlink(osPath.c_str()) == 0;
    return false;
  }
  // A writer of this or another updater process holds the file (see
  // open_files.cc). A file system without flock support cannot tell; the
  // deletion then goes ahead as it would for a file nobody holds.
  if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return false;
  // Unlink only the file we checked, not one renamed into its place since.
  struct stat opened {};
  if (fstat(fd.Get(), &opened) != 0 || lstat(osPath.c_str(), &atPath) != 0 ||
      !SameInode(opened, atPath)) {
    return false;
  }
  return unlink(osPath.c_str()) == 0;
}

bool ReadWholeFile(std::string_view path, std::string* bytes) {
  if (bytes == nullptr) return false;
  const std::string osPath = OsPath(path);
  // O_NONBLOCK so that a FIFO at the path cannot hang the open; only a
  // regular file is read.
  UniqueFd fd(open(osPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.Valid()) return false;
  struct stat info {};
  if (fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  std::string content;
  content.reserve(static_cast<size_t>(info.st_size));
  char block[16384];
  for (;;) {
    const ssize_t got = read(fd.Get(), block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;
    content.append(block, static_cast<size_t>(got));
  }
  *bytes = std::move(content);
  return true;
}

bool IsSameFile(std::string_view a, std::string_view b) {
  struct stat infoA {};
  struct stat infoB {};
  return stat(OsPath(a).c_str(), &infoA) == 0 && stat(OsPath(b).c_str(), &infoB) == 0 &&
         SameInode(infoA, infoB);
}

bool InstallFileAs(std::string_view from, std::string_view to) {
  const std::string osFrom = OsPath(from);
  const std::string osTo = OsPath(to);
  UniqueFd fd(open(osFrom.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (!fd.Valid()) return false;
  struct stat info {};
  if (fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  // Mode and contents are settled on the file itself before its name moves,
  // so `to` never names a file that cannot run or is not yet on disk.
  const mode_t oldMode = info.st_mode & 07777;
  if (fchmod(fd.Get(), 0755) != 0) return false;
  struct stat atPath {};
  if (fsync(fd.Get()) != 0 || lstat(osFrom.c_str(), &atPath) != 0 || !SameInode(info, atPath) ||
      rename(osFrom.c_str(), osTo.c_str()) != 0) {
    fchmod(fd.Get(), oldMode);
    return false;
  }
  return true;
}

}  // namespace updater
