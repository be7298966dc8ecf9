#include "text/codepage.h"

#include <cstdint>

namespace updater {
namespace {

#include "text/gbk_table.inc"

// Code page 936 has one single byte above ASCII: 0x80 is the euro sign.
constexpr std::uint16_t kEuroUnit = 0x20AC;
constexpr unsigned char kEuroByte = 0x80;

constexpr char32_t kNoCharacter = 0xFFFFFFFF;
constexpr std::string_view kUtf8Replacement = "\xEF\xBF\xBD";
constexpr char kGbkReplacement = '?';

// The two-byte code of a character in the lower 16 bits of the entry; 0 when
// code page 936 has no such character. Built once from the forward table, so
// the two directions cannot disagree.
class UnicodeToGbkTable {
 public:
  UnicodeToGbkTable() {
    for (unsigned lead = 0; lead < kGbkLeadCount; ++lead) {
      for (unsigned trail = 0; trail < kGbkTrailCount; ++trail) {
        const std::uint16_t unit = kGbkToUnicode[lead][trail];
        if (unit != 0) {
          codes_[unit] = static_cast<std::uint16_t>(((kGbkLeadFirst + lead) << 8) |
                                                    (kGbkTrailFirst + trail));
        }
      }
    }
  }
  std::uint16_t CodeOf(char32_t c) const { return c < 0x10000 ? codes_[c] : 0; }

 private:
  std::uint16_t codes_[0x10000] = {};
};

const UnicodeToGbkTable& ReverseTable() {
  static const UnicodeToGbkTable table;
  return table;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

void AppendGbk(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  if (c == kEuroUnit) {
    out += static_cast<char>(kEuroByte);
    return;
  }
  const std::uint16_t code = ReverseTable().CodeOf(c);
  if (code == 0) {
    out += kGbkReplacement;
    return;
  }
  out += static_cast<char>(code >> 8);
  out += static_cast<char>(code & 0xFF);
}

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// One code point from the front of `in`, which is shortened by what was read.
// An ill-formed sequence yields kNoCharacter and consumes its maximal valid
// prefix (at least one byte), so one bad sequence costs one replacement and
// the bytes after it are read afresh.
char32_t TakeUtf8(std::string_view& in) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(in[i]); };
  const unsigned char first = byte(0);
  if (first < 0x80) {
    in.remove_prefix(1);
    return first;
  }
  std::size_t length = 0;
  char32_t c = 0;
  unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
  if (first >= 0xC2 && first <= 0xDF) {
    length = 2;
    c = first & 0x1F;
  } else if (first >= 0xE0 && first <= 0xEF) {
    length = 3;
    c = first & 0x0F;
    if (first == 0xE0) low = 0xA0;   // no overlong forms
    if (first == 0xED) high = 0x9F;  // no surrogates
  } else if (first >= 0xF0 && first <= 0xF4) {
    length = 4;
    c = first & 0x07;
    if (first == 0xF0) low = 0x90;
    if (first == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    in.remove_prefix(1);
    return kNoCharacter;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (i >= in.size()) {
      in.remove_prefix(i);
      return kNoCharacter;
    }
    const unsigned char b = byte(i);
    const bool fits = i == 1 ? (b >= low && b <= high) : IsContinuation(b);
    if (!fits) {
      in.remove_prefix(i);
      return kNoCharacter;
    }
    c = (c << 6) | (b & 0x3F);
  }
  in.remove_prefix(length);
  return c;
}

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  std::string out;
  out.reserve(gbk.size() + gbk.size() / 2);
  std::size_t i = 0;
  while (i < gbk.size()) {
    const unsigned char lead = static_cast<unsigned char>(gbk[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    if (lead == kEuroByte) {
      AppendUtf8(out, kEuroUnit);
      ++i;
      continue;
    }
    if (lead == 0xFF || i + 1 >= gbk.size()) {
      out += kUtf8Replacement;
      ++i;
      continue;
    }
    const unsigned char trail = static_cast<unsigned char>(gbk[i + 1]);
    const bool trailInRange = trail >= kGbkTrailFirst && trail < kGbkTrailFirst + kGbkTrailCount;
    const std::uint16_t unit =
        trailInRange ? kGbkToUnicode[lead - kGbkLeadFirst][trail - kGbkTrailFirst] : 0;
    if (unit != 0) {
      AppendUtf8(out, unit);
      i += 2;
      continue;
    }
    out += kUtf8Replacement;
    // An ASCII byte after a bad lead byte is read again on its own, so that a
    // broken character cannot swallow a separator or a quote; a byte that can
    // only be a second byte goes with its pair.
    i += (trailInRange && trail >= 0x80) ? 2 : 1;
  }
  return out;
}

std::string Utf8ToGbk(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  while (!utf8.empty()) {
    const char32_t c = TakeUtf8(utf8);
    if (c == kNoCharacter) {
      out += kGbkReplacement;
    } else {
      AppendGbk(out, c);
    }
  }
  return out;
}

std::string Utf16LeToGbk(std::string_view utf16le) {
  std::string out;
  out.reserve(utf16le.size());
  std::size_t i = 0;
  const auto unitAt = [&](std::size_t at) {
    return static_cast<char32_t>(static_cast<unsigned char>(utf16le[at]) |
                                 (static_cast<unsigned char>(utf16le[at + 1]) << 8));
  };
  while (i + 1 < utf16le.size()) {
    const char32_t unit = unitAt(i);
    i += 2;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      // A character beyond the 16-bit range: code page 936 has none of them,
      // but the pair is still one character and costs one replacement.
      if (i + 1 < utf16le.size()) {
        const char32_t next = unitAt(i);
        if (next >= 0xDC00 && next <= 0xDFFF) i += 2;
      }
      out += kGbkReplacement;
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
      out += kGbkReplacement;
    } else {
      AppendGbk(out, unit);
    }
  }
  if (i < utf16le.size()) out += kGbkReplacement;  // half a code unit at the end
  return out;
}

}  // namespace updater
