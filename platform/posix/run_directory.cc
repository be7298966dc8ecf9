#include "platform/run_directory.h"

#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <memory>

#include "platform/posix/path_mapping.h"
#include "text/codepage.h"

namespace updater {

namespace {

// Written on the window's thread before any other thread starts (or by a
// test before it uses paths), read-only afterwards.
struct RunDirectoryNames {
  std::string text;  // code page 936 stand-in, handed to the core
  std::string os;    // the folder's own bytes
};

RunDirectoryNames& Names() {
  static RunDirectoryNames names;
  return names;
}

// The folder part of an absolute path, without a trailing "/". The root
// becomes "", so that "" + "\Tavrix.exe" still names "/Tavrix.exe".
std::string FolderOf(std::string_view file) {
  const std::size_t slash = file.rfind('/');
  if (slash == std::string_view::npos) return std::string();
  return std::string(file.substr(0, slash));
}

}  // namespace

bool TakeRunDirectoryFromExecutable() {
  std::unique_ptr<char, decltype(&free)> exe(realpath("/proc/self/exe", nullptr), &free);
  if (!exe) return false;
  const std::string folder = FolderOf(exe.get());
  if (chdir(folder.empty() ? "/" : folder.c_str()) != 0) return false;
  SetRunDirectory(folder);
  return true;
}

void SetRunDirectory(std::string_view osDirectory) {
  while (osDirectory.size() > 1 && osDirectory.back() == '/') osDirectory.remove_suffix(1);
  if (osDirectory == "/") osDirectory = {};
  RunDirectoryNames& names = Names();
  names.os = std::string(osDirectory);
  names.text = Utf8ToGbk(osDirectory);
}

const std::string& RunDirectory() { return Names().text; }

std::string OsPath(std::string_view path) {
  const RunDirectoryNames& names = Names();
  return MapPathToOs(path, names.text, names.os);
}

}  // namespace updater
