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

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

bool IsOneNonAsciiCharacter(std::string_view utf8) {
  if (utf8.size() < 2) return false;
  for (char c : utf8) {
    if (static_cast<unsigned char>(c) < 0x80) return false;
  }
  // Exactly one lead byte (0xC0 and above), the rest continuation bytes.
  for (std::size_t i = 1; i < utf8.size(); ++i) {
    if ((static_cast<unsigned char>(utf8[i]) & 0xC0) != 0x80) return false;
  }
  return (static_cast<unsigned char>(utf8[0]) & 0xC0) == 0xC0;
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
  // Character by character, so that the converter never sees a separator
  // and a two-byte character always yields one character: a pair that code
  // page 936 leaves unassigned must not come out as a replacement followed
  // by its trail byte read as ASCII (a trail byte 0x5C would be a backslash).
  std::size_t i = 0;
  while (i < rest.size()) {
    const unsigned char b = static_cast<unsigned char>(rest[i]);
    if (IsSeparator(b)) {
      os += '/';
      ++i;
    } else if (b < 0x80) {
      os += static_cast<char>(b);
      ++i;
    } else {
      const std::size_t length = IsPairAt(rest, i) ? 2 : 1;
      const std::string character = GbkToUtf8(rest.substr(i, length));
      os += IsOneNonAsciiCharacter(character) ? character : kReplacement;
      i += length;
    }
  }
  return os;
}

}  // namespace updater
