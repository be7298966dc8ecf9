#include "platform/posix/path_mapping.h"

#include "text/codepage.h"

namespace updater {

namespace {

bool IsSeparator(unsigned char b) { return b == '\\' || b == '/'; }

// A lead byte followed by a trail byte is one character; anything else is
// taken one byte at a time (and a bad one becomes a replacement later).
bool IsPairAt(std::string_view t, std::size_t i) {
  const unsigned char lead = static_cast<unsigned char>(t[i]);
  if (lead < 0x81 || lead > 0xFE || i + 1 >= t.size()) return false;
  const unsigned char trail = static_cast<unsigned char>(t[i + 1]);
  return trail >= 0x40 && trail <= 0xFE && trail != 0x7F;
}

std::string_view UpToFirstZero(std::string_view t) {
  const std::size_t zero = t.find('\0');
  return zero == std::string_view::npos ? t : t.substr(0, zero);
}

// Only a whole folder name counts: "/a/bc" is not inside the run directory "/a/b".
bool BeginsWithRunDirectory(std::string_view path, std::string_view runDirText) {
  if (path.substr(0, runDirText.size()) != runDirText) return false;
  return path.size() == runDirText.size() ||
         IsSeparator(static_cast<unsigned char>(path[runDirText.size()]));
}

}  // namespace

std::string MapPathToOs(std::string_view path, std::string_view runDirText,
                        std::string_view runDirOs) {
  path = UpToFirstZero(path);
  runDirText = UpToFirstZero(runDirText);
  std::string os;
  os.reserve(path.size() + runDirOs.size());
  std::string_view rest = path;
  if (BeginsWithRunDirectory(path, runDirText)) {
    os.append(runDirOs);
    rest.remove_prefix(runDirText.size());
  }
  // Each name between separators is converted on its own, so no conversion
  // can ever see (or produce) a separator.
  std::size_t nameStart = 0;
  std::size_t i = 0;
  while (i < rest.size()) {
    if (IsSeparator(static_cast<unsigned char>(rest[i]))) {
      os += GbkToUtf8(rest.substr(nameStart, i - nameStart));
      os += '/';
      nameStart = ++i;
      continue;
    }
    i += IsPairAt(rest, i) ? 2 : 1;
  }
  os += GbkToUtf8(rest.substr(nameStart));
  return os;
}

}  // namespace updater
