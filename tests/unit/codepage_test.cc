// Code page 936 <-> UTF-8 and UTF-16LE -> code page 936 at the platform edge.
#include "text/codepage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace updater {
namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

std::string Utf8(const char8_t* text) { return reinterpret_cast<const char*>(text); }

// Decodes well-formed UTF-8 to code points (the test's own small decoder).
std::vector<char32_t> CodePoints(const std::string& utf8) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const int length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    char32_t c = length == 1 ? b : b & (0x7F >> length);
    for (int k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
    out.push_back(c);
    i += length;
  }
  return out;
}

std::string Utf16Le(const std::u16string& text) {
  std::string out;
  for (char16_t unit : text) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

TEST(Codepage, KnownTexts) {
  // The test's narrow literals are code page 936 bytes, its u8 ones UTF-8.
  EXPECT_EQ(std::string("下载进度："), "\xCF\xC2\xD4\xD8\xBD\xF8\xB6\xC8\xA3\xBA");
  EXPECT_EQ(GbkToUtf8("下载进度："), Utf8(u8"下载进度："));
  EXPECT_EQ(Utf8ToGbk(Utf8(u8"下载进度：")), "下载进度：");
  EXPECT_EQ(Utf16LeToGbk(Utf16Le(u"下载进度：")), "下载进度：");
  EXPECT_EQ(GbkToUtf8("Tavrix更新.tmp"), Utf8(u8"Tavrix更新.tmp"));
  EXPECT_EQ(Utf8ToGbk(Utf8(u8"暂未发现新版，请耐心等待！")), "暂未发现新版，请耐心等待！");
  EXPECT_EQ(GbkToUtf8("×"), Utf8(u8"×"));
  // Code page 936's one single byte above ASCII.
  EXPECT_EQ(GbkToUtf8("\x80"), Utf8(u8"€"));
  EXPECT_EQ(Utf8ToGbk(Utf8(u8"€")), "\x80");
  EXPECT_EQ(GbkToUtf8(std::string_view()), "");
  EXPECT_EQ(Utf8ToGbk(std::string_view()), "");
  EXPECT_EQ(Utf16LeToGbk(std::string_view()), "");
  EXPECT_EQ(GbkToUtf8(std::string_view("a\0b", 3)), std::string("a\0b", 3));
}

// Every two-byte character maps to one character and back to the same bytes,
// by both routes; no two share a character.
TEST(Codepage, EveryCharacterRoundTrips) {
  int mapped = 0;
  std::vector<bool> seen(0x10000, false);
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      const std::string gbk{static_cast<char>(lead), static_cast<char>(trail)};
      const std::string utf8 = GbkToUtf8(gbk);
      if (utf8.find(kReplacement) != std::string::npos) continue;
      ++mapped;
      const std::vector<char32_t> points = CodePoints(utf8);
      ASSERT_EQ(points.size(), 1u) << std::hex << lead << " " << trail;
      const char32_t c = points[0];
      ASSERT_GE(c, 0x80u);
      ASSERT_TRUE(c < 0xD800 || c > 0xDFFF);
      ASSERT_FALSE(seen[c]) << std::hex << static_cast<uint32_t>(c);
      seen[c] = true;
      ASSERT_EQ(Utf8ToGbk(utf8), gbk) << std::hex << lead << " " << trail;
      ASSERT_EQ(Utf16LeToGbk(Utf16Le(std::u16string(1, static_cast<char16_t>(c)))), gbk);
    }
  }
  EXPECT_EQ(mapped, 21791);  // the code page's two-byte characters

  // A whole row of text in one go keeps every character in place.
  std::string row;
  for (int trail = 0xA1; trail <= 0xFE; ++trail) row += {'\xB0', static_cast<char>(trail), 'a'};
  EXPECT_EQ(Utf8ToGbk(GbkToUtf8(row)), row);
}

// A second byte in the ASCII range belongs to its character: 0x5C is not a
// backslash there, 0x40..0x7E are not letters.
TEST(Codepage, AsciiRangeSecondBytes) {
  const std::string path = "C:\\\x81\x5C\\a\x81\x40.exe";  // C:\乗\a丂.exe
  const std::string utf8 = GbkToUtf8(path);
  EXPECT_EQ(utf8, Utf8(u8"C:\\乗\\a丂.exe"));
  EXPECT_EQ(Utf8ToGbk(utf8), path);
  EXPECT_EQ(Utf8ToGbk(Utf8(u8"乗")), "\x81\x5C");
}

TEST(Codepage, InvalidSequencesAreReplaced) {
  const std::string r = kReplacement;
  const struct {
    std::string gbk;
    std::string utf8;
  } gbkCases[] = {
      {"\x81", r},                       // a lone lead byte at the end
      {"ab\xB0", "ab" + r},
      {"a\xFF" "b", "a" + r + "b"},      // 0xFF is never a character
      {"\x81\x30", r + "0"},             // an ASCII byte after a lead byte is kept
      {"\xA1\x40" "x", r + "@x"},        // no character here; the "@" survives
      {"\xB0\x7F", r + "\x7F"},
      {"\xA2\xA0" "x", r + "x"},         // a second byte with no character: one replacement
      {"\xB0\x0A", r + "\n"},
      {"\xB0\xA1\xB0", "\xE5\x95\x8A" + r},  // 啊, then a lead byte at the end
  };
  for (const auto& c : gbkCases) {
    EXPECT_EQ(GbkToUtf8(c.gbk), c.utf8) << testing::PrintToString(c.gbk);
  }

  const struct {
    std::string utf8;
    std::string gbk;
  } utf8Cases[] = {
      {"\xC0\xAF", "??"},                 // an overlong "/"
      {"\xE0\x80\xAF", "???"},
      {"\xED\xA0\x80", "???"},            // a surrogate
      {"\xF4\x90\x80\x80", "????"},       // above U+10FFFF
      {"\xE4\xB8", "?"},                  // cut short at the end
      {"\xE4\xB8" "a", "?a"},             // cut short before ASCII
      {"\x80" "a\xBF", "?a?"},           // stray continuation bytes
      {"\xFE\xFF", "??"},
      {Utf8(u8"😀下"), "?\xCF\xC2"},      // beyond 16 bits: not in the code page
      {Utf8(u8"한"), "?"},                // in 16 bits, not in the code page
  };
  for (const auto& c : utf8Cases) {
    EXPECT_EQ(Utf8ToGbk(c.utf8), c.gbk) << testing::PrintToString(c.utf8);
  }

  const struct {
    std::string utf16le;
    std::string gbk;
  } utf16Cases[] = {
      {Utf16Le(u"A\u4E0B"), "A\xCF\xC2"},
      {Utf16Le(u"\U0001F600x"), "?x"},                   // a surrogate pair, one character
      {std::string("\x3D\xD8" "x\0", 4), "?x"},         // a lone high surrogate
      {std::string("\x00\xDE" "x\0", 4), "?x"},         // a lone low surrogate
      {std::string("\x3D\xD8", 2), "?"},
      {std::string("A\0B", 3), "A?"},                    // half a code unit at the end
  };
  for (const auto& c : utf16Cases) {
    EXPECT_EQ(Utf16LeToGbk(c.utf16le), c.gbk) << testing::PrintToString(c.utf16le);
  }
}

// Random bytes into all three: no crash, and the output is well formed.
TEST(Codepage, RandomBytesGiveWellFormedText) {
  std::mt19937 random(936);
  for (int i = 0; i < 5000; ++i) {
    std::string bytes(random() % 40, '\0');
    for (char& b : bytes) b = static_cast<char>(random());
    const std::string utf8 = GbkToUtf8(bytes);
    // The UTF-8 is well formed: it comes back with only its replacement
    // characters turned into "?".
    const std::string back = Utf8ToGbk(utf8);
    std::string expected = utf8;
    for (std::size_t at; (at = expected.find(kReplacement)) != std::string::npos;) {
      expected.replace(at, kReplacement.size(), "?");
    }
    EXPECT_EQ(GbkToUtf8(back), expected) << testing::PrintToString(bytes);
    // Well-formed GBK converts to UTF-8 and back unchanged.
    EXPECT_EQ(Utf8ToGbk(GbkToUtf8(back)), back);
    Utf8ToGbk(bytes);
    Utf16LeToGbk(bytes);
  }
}

}  // namespace
}  // namespace updater
