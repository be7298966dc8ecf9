#include "check/profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/run_directory.h"
#include "tests/unit/hex.h"
#include "tests/unit/temp_dir.h"

namespace updater {
namespace {

using namespace std::string_view_literals;
using testing::FromHex;
using testing::TempDir;
using testing::ToHex;

// This file is compiled with -fexec-charset=GBK: "配置" below is the code
// page 936 bytes that the product writes.
constexpr std::string_view kSection = "配置";

std::string FromUtf8(std::u8string_view utf8) {
  return std::string(reinterpret_cast<const char*>(utf8.data()), utf8.size());
}

std::string Utf16(std::u16string_view text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t unit : text) {
    const char low = static_cast<char>(unit & 0xFF);
    const char high = static_cast<char>(unit >> 8);
    bytes += bigEndian ? high : low;
    bytes += bigEndian ? low : high;
  }
  return bytes;
}

std::filesystem::path CasesDirectory() {
  return std::filesystem::path(__FILE__).parent_path().parent_path() / "data" / "profile-cases";
}

// expected.tsv: name, section, key, value (all but the name in hex), note.
TEST(ProfileValueTest, MatchesThePlatformReaderOnEveryReferenceCase) {
  std::ifstream table(CasesDirectory() / "expected.tsv");
  ASSERT_TRUE(table) << CasesDirectory();
  int rows = 0;
  std::string line;
  while (std::getline(table, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) fields.push_back(field);
    ASSERT_GE(fields.size(), 4u) << line;
    SCOPED_TRACE(fields[0]);
    const std::string bytes = TempDir::Read(CasesDirectory() / (fields[0] + ".ini"));
    const std::string value = ProfileValue(bytes, FromHex(fields[1]), FromHex(fields[2]));
    EXPECT_EQ(ToHex(value), ToHex(FromHex(fields[3])));
    ++rows;
  }
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(CasesDirectory())) {
    if (entry.path().extension() == ".ini") ++files;
  }
  EXPECT_EQ(rows, files) << "every case file has its row";
}

struct Case {
  const char* name;
  std::string file;
  std::string_view section;
  std::string_view key;
  std::string expected;
};

// Files the reference table does not show: what this reader does with them.
TEST(ProfileValueTest, ReadsFilesBeyondTheReferenceCases) {
  const std::string as10239(10239, 'a');
  const Case cases[] = {
      {"lone CR line ends", "[配置]\r文件名=Tavrix.exe\r更新=1\r", kSection, "更新", "1"},
      {"mixed line ends", "[配置]\n\r\r\n版本=2.73\r更新=1", kSection, "版本", "2.73"},
      {"NUL ends the value", std::string("[配置]\r\n更新=1\0junk\r\n"sv), kSection, "更新", "1"},
      {"NUL ends a key line", std::string("[配置]\r\n更\0新=0\r\n更新=1\r\n"sv), kSection, "更新",
       "1"},
      {"file of NUL bytes", std::string(64, '\0'), kSection, "更新", ""},
      {"UTF-16LE with BOM", Utf16(u"[配置]\r\n版本=2.73中\r\n", false), kSection, "版本",
       "2.73中"},
      {"UTF-16BE with BOM", Utf16(u"[配置]\r\n版本=2.73中\r\n", true), kSection, "版本",
       "2.73中"},
      {"UTF-16LE, odd last byte", Utf16(u"[配置]\r\n更新=1\r\n", false) + "\x31", kSection,
       "更新", "1"},
      {"UTF-8 without BOM, ASCII names", FromUtf8(u8"[Config]\nName=中文\n"), "config", "NAME",
       "中文"},
      {"code page 936 value that looks like UTF-8 stays", "[配置]\r\n文件名=\xC3\xA9.exe\r\n",
       kSection, "文件名", "\xC3\xA9.exe"},
      {"second byte 0x5D is no closing bracket", "[\x81\x5D]\r\nkey=1\r\n", "\x81\x5D", "key",
       "1"},
      {"second byte is never case-folded", "[配置]\r\n\x81\x41=1\r\n", kSection, "\x81\x61", ""},
      {"second byte matches itself", "[配置]\r\n\x81\x41=1\r\n", kSection, "\x81\x41", "1"},
      {"ASCII case in both names", "[cOnFiG]\r\nDownLoad=x\r\n", "CONFIG", "download", "x"},
      {"blanks inside the brackets", "[ 配置\t]\r\n更新=1\r\n", kSection, "更新", "1"},
      {"text after the closing bracket", "[配置] ;note [x]\r\n更新=1\r\n", kSection, "更新", "1"},
      {"unclosed header keeps the section", "[配置]\r\n[坏\r\n更新=1\r\n", kSection, "更新", "1"},
      {"only the first section of the name", "[配置]\r\n版本=1\r\n[配置]\r\n更新=1\r\n", kSection,
       "更新", ""},
      {"line without = is skipped", "[配置]\r\n更新\r\n更新=1\r\n", kSection, "更新", "1"},
      {"indented comment", "[配置]\r\n\t;更新=1\r\n更新=0\r\n", kSection, "更新", "0"},
      {"a lone quote stays", "[配置]\r\n版本=\"\r\n", kSection, "版本", "\""},
      {"empty quotes", "[配置]\r\n版本=''\r\n", kSection, "版本", ""},
      {"blanks inside quotes stay", "[配置]\r\n版本=\" 2.73 \"\r\n", kSection, "版本", " 2.73 "},
      {"quotes go before the cut", "[配置]\r\n下载地=\"" + as10239 + "\"\r\n", kSection, "下载地",
       as10239},
      {"quoted and too long", "[配置]\r\n下载地=\"" + as10239 + "aa\"\r\n", kSection, "下载地",
       as10239},
      {"lone first byte before the line end", "[配置]\r\n文件名=a\x81\r\n更新=1", kSection,
       "文件名", "a\x81"},
      {"Ctrl-Z at the end of the file", "[配置]\r\n版本=2.73\x1A", kSection, "版本", "2.73"},
      {"sections and keys of other names", "[其他]\r\n更新=0\r\n[配置]\r\n更新甲=0\r\n更新=1\r\n",
       kSection, "更新", "1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToHex(ProfileValue(c.file, c.section, c.key)), ToHex(c.expected)) << c.name;
  }
}

TEST(ProfileValueTest, FindsTheKeyAtTheEndOfAMegabyteFile) {
  std::string file;
  for (int i = 0; file.size() < (1 << 20); ++i) {
    file += "[section" + std::to_string(i) + "]\r\nkey=" + std::string(200, 'x') + "\r\n";
  }
  file += "[配置]\r\n更新=1";
  EXPECT_EQ(ProfileValue(file, kSection, "更新"), "1");

  const std::string oneLine = "[配置]\r\n下载地=" + std::string(1 << 20, 'y');
  EXPECT_EQ(ProfileValue(oneLine, kSection, "下载地"), std::string(kProfileBufferSize - 1, 'y'));
}

// Random files built mostly from the bytes the reader looks at, with and
// without a byte-order mark. The value is a zero-terminated text within the
// buffer, and the reader reads nothing beyond its input (checked by the
// sanitizer build).
TEST(ProfileValueTest, HoldsOnRandomFiles) {
  static const std::string_view alphabet =
      "[]=;\"' \t\r\n\0\x1A\x81\x5D\xC5\xE4\xD6\xC3\xFE\xFF\xEF\xBB\xBFkK"sv;
  static const std::string_view marks[] = {"", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF"};
  std::mt19937 random(20240611);
  for (int round = 0; round < 2000; ++round) {
    std::string file(marks[round % 4]);
    const std::size_t size = random() % (round % 50 == 0 ? 30000 : 300);
    for (std::size_t i = 0; i < size; ++i) {
      file += random() % 4 == 0 ? static_cast<char>(random())
                                : alphabet[random() % alphabet.size()];
    }
    for (std::string_view key : {"k"sv, "K="sv, ""sv, "\x81"sv}) {
      const std::string value = ProfileValue(file, "k", key);
      ASSERT_LE(value.size(), kProfileBufferSize - 1);
      ASSERT_EQ(value.find('\0'), std::string::npos);
    }
  }
}

TEST(ReadProfileValueTest, ReadsTheFileAsItIsAtEachCall) {
  TempDir dir;
  SetRunDirectory(dir.path().string());
  const std::string path = RunDirectory() + "/pz/gx.ini";
  EXPECT_EQ(ReadProfileValue(path, kSection, "更新"), "") << "no folder, no file";

  std::filesystem::create_directory(dir / "pz");
  EXPECT_EQ(ReadProfileValue(path, kSection, "更新"), "") << "no file";

  TempDir::Write(dir / "pz" / "gx.ini", "[配置]\r\n更新=1\r\n");
  EXPECT_EQ(ReadProfileValue(path, kSection, "更新"), "1");
  TempDir::Write(dir / "pz" / "gx.ini", "[配置]\r\n更新=0\r\n");
  EXPECT_EQ(ReadProfileValue(path, kSection, "更新"), "0");

  std::filesystem::remove(dir / "pz" / "gx.ini");
  std::filesystem::create_directory(dir / "pz" / "gx.ini");
  EXPECT_EQ(ReadProfileValue(path, kSection, "更新"), "") << "a folder in its place";
}

}  // namespace
}  // namespace updater
