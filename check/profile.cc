#include "check/profile.h"

#include <cstddef>
#include <string>
#include <utility>

#include "text/codepage.h"

// How a hand-off file is read, as the platform's profile reader reads it:
//
// - The file is decoded from a byte-order mark (UTF-8, UTF-16LE, UTF-16BE)
//   into code page 936 before it is parsed, so names and values are compared
//   and returned in code page 936. A file without a mark is code page 936,
//   except that a file which is valid UTF-8 and holds bytes above 0x7F is
//   read as UTF-8: a build of the product on a UTF-8 system writes that. The
//   code page 936 bytes of the section name "配置" (C5 E4 D6 C3) are never
//   valid UTF-8, so a file written in code page 936 is read as before.
// - Lines end at CR LF, LF or a lone CR; the last line needs no line end. A
//   NUL byte ends the text of its line: a value is a zero-terminated text.
// - Blanks around a line, a section name, a key name and a value are
//   dropped. A line whose first character is ";" is a comment. A line
//   without "=" is no entry.
// - "[name]" starts a section; text after the "]" is ignored. A line that
//   starts with "[" but has no "]" starts nothing and is read as a key line.
// - Names are matched without regard to ASCII letter case. The second byte
//   of a two-byte character is never folded and never taken for "]".
// - The first section of the name is the one searched, and in it the first
//   key of the name; a value in matching quotes ("..." or '...') loses them.
// - The value is cut to its first kProfileBufferSize-1 bytes, even when the
//   cut halves a two-byte character (that is what the platform returns).

namespace updater {

namespace {

unsigned char ByteAt(std::string_view s, std::size_t i) {
  return static_cast<unsigned char>(s[i]);
}

bool IsLeadByte(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool IsTrailByte(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// 1 or 2: the length of the code page 936 character at `i`. A lead byte with
// no valid second byte after it stands alone, so a broken character can
// never swallow the separator or the line end that follows it.
std::size_t CharLength(std::string_view s, std::size_t i) {
  return IsLeadByte(ByteAt(s, i)) && i + 1 < s.size() && IsTrailByte(ByteAt(s, i + 1)) ? 2 : 1;
}

// Space, tab, vertical tab, form feed, and the Ctrl-Z that old editors leave
// at the end of a text file. None of them can be the second byte of a
// two-byte character, so trimming byte by byte is safe.
bool IsBlank(unsigned char b) {
  return b == ' ' || b == '\t' || b == '\v' || b == '\f' || b == 0x1A;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && IsBlank(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

unsigned char FoldAscii(unsigned char b) { return b >= 'A' && b <= 'Z' ? b + ('a' - 'A') : b; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  std::size_t i = 0;
  while (i < a.size()) {
    const std::size_t length = CharLength(a, i);
    if (length == 2) {
      // Equal lead bytes keep both names on the same character boundaries.
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
    } else if (FoldAscii(ByteAt(a, i)) != FoldAscii(ByteAt(b, i))) {
      return false;
    }
    i += length;
  }
  return true;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
// `sawHighByte` tells whether the text is more than ASCII.
bool IsValidUtf8(std::string_view s, bool* sawHighByte) {
  *sawHighByte = false;
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char first = ByteAt(s, i);
    if (first < 0x80) {
      ++i;
      continue;
    }
    *sawHighByte = true;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (first >= 0xC2 && first <= 0xDF) {
      length = 2;
    } else if (first >= 0xE0 && first <= 0xEF) {
      length = 3;
      if (first == 0xE0) low = 0xA0;
      if (first == 0xED) high = 0x9F;
    } else if (first >= 0xF0 && first <= 0xF4) {
      length = 4;
      if (first == 0xF0) low = 0x90;
      if (first == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (s.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const unsigned char b = ByteAt(s, i + k);
      const bool fits = k == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
      if (!fits) return false;
    }
    i += length;
  }
  return true;
}

// The file's text in code page 936: a view of `fileBytes` itself when it
// needs no decoding, else a view of `decoded`.
std::string_view TextOf(std::string_view fileBytes, std::string& decoded) {
  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  constexpr std::string_view kUtf16LeMark = "\xFF\xFE";
  constexpr std::string_view kUtf16BeMark = "\xFE\xFF";
  if (fileBytes.starts_with(kUtf8Mark)) {
    decoded = Utf8ToGbk(fileBytes.substr(kUtf8Mark.size()));
  } else if (fileBytes.starts_with(kUtf16LeMark)) {
    decoded = Utf16LeToGbk(fileBytes.substr(kUtf16LeMark.size()));
  } else if (fileBytes.starts_with(kUtf16BeMark)) {
    std::string swapped(fileBytes.substr(kUtf16BeMark.size()));
    for (std::size_t i = 0; i + 1 < swapped.size(); i += 2) std::swap(swapped[i], swapped[i + 1]);
    decoded = Utf16LeToGbk(swapped);
  } else {
    bool sawHighByte = false;
    if (!IsValidUtf8(fileBytes, &sawHighByte) || !sawHighByte) return fileBytes;
    decoded = Utf8ToGbk(fileBytes);
  }
  return decoded;
}

// The position of the "]" that closes a section name, or npos.
std::size_t FindClosingBracket(std::string_view line) {
  std::size_t i = 1;  // after the "["
  while (i < line.size()) {
    if (line[i] == ']') return i;
    i += CharLength(line, i);
  }
  return std::string_view::npos;
}

std::string ValueOf(std::string_view raw) {
  std::string_view value = Trim(raw);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  if (value.size() > kProfileBufferSize - 1) value = value.substr(0, kProfileBufferSize - 1);
  return std::string(value);
}

}  // namespace

std::string ProfileValue(std::string_view fileBytes, std::string_view section,
                         std::string_view key) {
  std::string decoded;
  const std::string_view text = TextOf(fileBytes, decoded);

  bool inSection = false;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + ((end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') ? 2 : 1);

    const std::size_t nul = line.find('\0');
    if (nul != std::string_view::npos) line = line.substr(0, nul);
    line = Trim(line);
    if (line.empty() || line.front() == ';') continue;

    if (line.front() == '[') {
      const std::size_t close = FindClosingBracket(line);
      if (close != std::string_view::npos) {
        // Only the first section of the name counts: leaving it ends the search.
        if (inSection) return std::string();
        inSection = SameName(Trim(line.substr(1, close - 1)), section);
        continue;
      }
    }
    if (!inSection) continue;

    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    if (SameName(Trim(line.substr(0, equals)), key)) return ValueOf(line.substr(equals + 1));
  }
  return std::string();
}

}  // namespace updater
