#include "platform/posix/path_mapping.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/run_directory.h"

namespace updater {
namespace {

// Narrow literals are code page 936 (program texts); u8 literals are what
// the OS sees. "運" is 0xDF 0x5C: its second byte is a backslash.
struct MappingCase {
  const char* what;
  std::string path;
  std::string runDirText;
  std::string runDirOs;
  std::string expected;
};

std::string Os(const char8_t* utf8) { return reinterpret_cast<const char*>(utf8); }

TEST(PathMapping, MapsProgramPathsToOsPaths) {
  const std::string muText = "/tmp/x/mu?oz";  // "ñ" is not in code page 936
  const std::string muOs = Os(u8"/tmp/x/muñoz");
  const MappingCase cases[] = {
      {"download file", muText + "\\Tavrix更新.tmp", muText, muOs, Os(u8"/tmp/x/muñoz/Tavrix更新.tmp")},
      {"hand-off file", muText + "/pz/gx.ini", muText, muOs, Os(u8"/tmp/x/muñoz/pz/gx.ini")},
      {"doubled separator kept", muText + "\\\\Tavrix.exe", muText, muOs, Os(u8"/tmp/x/muñoz//Tavrix.exe")},
      {"the run directory alone", muText, muText, muOs, muOs},
      {"a longer folder name is not inside", muText + "z\\a", muText, muOs, Os(u8"/tmp/x/mu?ozz/a")},
      {"not under the run directory", "C:\\x\\y", muText, muOs, "C:/x/y"},
      {"trail byte 0x5C is no separator", "/d\\運行\\a", "/d", "/d", Os(u8"/d/運行/a")},
      {"trail byte 0x5C at the end", "/d\\運", "/d", "/d", Os(u8"/d/運")},
      {"run directory text with a 0x5C trail byte", "/d/運\\x", "/d/運", Os(u8"/d/運"), Os(u8"/d/運/x")},
      {"root run directory", "\\Tavrix.exe", "", "", "/Tavrix.exe"},
      {"root run directory, hand-off file", "/pz/gx.ini", "", "", "/pz/gx.ini"},
      {"lone lead byte before a separator", "/d\\\x81/x", "/d", "/d", "/d/\xEF\xBF\xBD/x"},
      {"unassigned pair with trail byte 0x5C is one character", "/d\\\xA1\\x", "/d", "/d",
       "/d/\xEF\xBF\xBDx"},
      {"lone lead byte at the end", "/d\\a\x81", "/d", "/d", "/d/a\xEF\xBF\xBD"},
      {"a path ends at its first zero byte", std::string("/d\\a\0/b", 7), "/d", "/d", "/d/a"},
      {"empty path", "", "/d", "/d", ""},
  };
  for (const MappingCase& c : cases) {
    EXPECT_EQ(MapPathToOs(c.path, c.runDirText, c.runDirOs), c.expected) << c.what;
  }
}

TEST(PathMapping, ConvertedNamesNeverGainSeparators) {
  // Every two-byte character with a trail byte 0x5C, and a full-width
  // solidus, stays one name.
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    const std::string name = {static_cast<char>(lead), '\\', 'a'};
    const std::string os = MapPathToOs("/d\\" + name, "/d", "/d");
    ASSERT_EQ(os.find('/', 3), std::string::npos) << "lead byte " << lead;
    ASSERT_EQ(os.find('\\'), std::string::npos) << "lead byte " << lead;
  }
  EXPECT_EQ(MapPathToOs("／", "", ""), Os(u8"／"));
}

TEST(RunDirectory, TextStandsInForTheOsNameAndMapsBack) {
  // (Names outside code page 936 stay out of the assertion macros, which
  // turn their arguments into narrow text.)
  const std::string osFolder = Os(u8"/tmp/x/muñoz/更新");
  const std::string osDownload = Os(u8"/tmp/x/muñoz/更新/Tavrix更新.tmp");
  SetRunDirectory(osFolder);
  EXPECT_EQ(RunDirectory(), "/tmp/x/mu?oz/更新");
  EXPECT_EQ(OsPath(RunDirectory() + "\\Tavrix更新.tmp"), osDownload);

  SetRunDirectory("/");  // an executable at the root
  EXPECT_EQ(RunDirectory(), "");
  EXPECT_EQ(OsPath(RunDirectory() + "\\Tavrix.exe"), "/Tavrix.exe");

  SetRunDirectory("/srv/app/");
  EXPECT_EQ(RunDirectory(), "/srv/app");
  SetRunDirectory("");
}

}  // namespace
}  // namespace updater
