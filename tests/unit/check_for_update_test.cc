#include "check/check_for_update.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "app/updater_state.h"
#include "platform/run_directory.h"
#include "tests/unit/fake_window.h"
#include "tests/unit/hex.h"
#include "tests/unit/temp_dir.h"

namespace updater {
namespace {

namespace fs = std::filesystem;
using testing::FakeWindow;
using testing::TempDir;
using testing::ToHex;

// Narrow literals in this file are code page 936 bytes (-fexec-charset=GBK),
// like the hand-off file the product writes and the program's own texts.
const std::string kUrl = "http://127.0.0.1:8080/Tavrix.exe";

std::string Handoff(const std::string& flag, const std::string& versionLine = "版本=2.73\r\n") {
  return "[配置]\r\n文件名=Tavrix.exe\r\n更新=" + flag + "\r\n" + versionLine + "下载地=" + kUrl +
         "\r\n";
}

// The fake window, which also notes which files exist at each change of the
// window, so the file steps can be placed among the window's steps. When
// the program ends it writes all it saw to stderr, where a death test's
// parent reads it; an end that the test did not expect aborts, so that it
// cannot pass for a clean exit.
class ReportingWindow : public FakeWindow {
 public:
  ReportingWindow(fs::path runDirectory, bool endExpected)
      : runDirectory_(std::move(runDirectory)), endExpected_(endExpected) {
    SetTheWindow(this);
  }
  ~ReportingWindow() override { SetTheWindow(nullptr); }

  void SetContent(Control control, std::string_view text) override {
    FakeWindow::SetContent(control, text);
    NoteFiles();
    if (afterSetContent) afterSetContent();
  }
  void SetCaption(Control control, std::string_view text) override {
    FakeWindow::SetCaption(control, text);
    NoteFiles();
  }
  void ShowMessageBox(std::string_view text, std::string_view title) override {
    FakeWindow::ShowMessageBox(text, title);
    NoteFiles();
  }
  void StopEvents() override {
    std::fprintf(stderr, "%s\n", Report(Operations(), files_).c_str());
    if (!endExpected_) std::abort();
    FakeWindow::StopEvents();
  }

  // "ops:<hex>,...;files:stale=0 handoff=1,...;" - hex keeps the regex plain.
  static std::string Report(const std::vector<std::string>& operations,
                            const std::vector<std::string>& files) {
    std::string report = "ops:";
    for (const std::string& op : operations) report += ToHex(op) + ",";
    report += ";files:";
    for (const std::string& f : files) report += f + ",";
    return report + ";";
  }

  const std::vector<std::string>& Files() const { return files_; }
  std::function<void()> afterSetContent;

 private:
  void NoteFiles() {
    files_.push_back(std::string("stale=") +
                     (fs::exists(runDirectory_ / u8"Tavrix更新.tmp") ? "1" : "0") +
                     " handoff=" + (fs::exists(runDirectory_ / "pz" / "gx.ini") ? "1" : "0"));
  }

  fs::path runDirectory_;
  bool endExpected_;
  std::vector<std::string> files_;
};

class CheckForUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A folder name outside ASCII, as a Chinese product's folder often is.
    fs::create_directories(runDirectory_ / "pz");
    SetRunDirectory(runDirectory_.string());
  }

  // The files of one start: a stale download, and the hand-off file unless
  // `handoff` is null.
  void PrepareStart(const std::string* handoff) {
    TempDir::Write(StaleDownload(), "half of an earlier download");
    if (handoff != nullptr) {
      TempDir::Write(HandoffFile(), *handoff);
    } else {
      fs::remove(HandoffFile());
    }
    TheUpdaterState().latestVersion = "earlier";
    TheUpdaterState().downloadUrl = "earlier";
  }

  fs::path HandoffFile() const { return runDirectory_ / "pz" / "gx.ini"; }
  fs::path StaleDownload() const { return runDirectory_ / u8"Tavrix更新.tmp"; }

  void ExpectFilesConsumed() {
    EXPECT_FALSE(fs::exists(HandoffFile()));
    EXPECT_FALSE(fs::exists(StaleDownload()));
    EXPECT_TRUE(fs::is_directory(runDirectory_ / "pz")) << "the folder pz stays";
  }

  // What the child reports when the check ends the program with the notice.
  static std::string NoUpdateReport(const std::string& fileName, bool handoffPresent) {
    const std::string files = std::string("stale=0 handoff=") + (handoffPresent ? "1" : "0");
    return ReportingWindow::Report({"SwitchSkinning 2", "SetContent 编辑框1 " + fileName,
                                    "MessageBox Tavrix提示 暂未发现新版，请耐心等待！"},
                                   {files, files});
  }

  TempDir dir_;
  fs::path runDirectory_ = dir_ / fs::path(u8"运行 目录");
};

TEST_F(CheckForUpdateTest, OffersTheUpdateWhenTheFlagIsOne) {
  for (const std::string flag : {"1", "1.0", "1.00000005", " 1", "\" 1\""}) {
    SCOPED_TRACE(flag);
    ReportingWindow window(runDirectory_, false);
    const std::string handoff = Handoff(flag);
    PrepareStart(&handoff);

    CheckForUpdate();

    EXPECT_EQ(window.Operations(),
              (std::vector<std::string>{"SwitchSkinning 2", "SetContent 编辑框1 Tavrix.exe",
                                        "SetCaption 标签2 最新版本号:2.73",
                                        "SetCaption 标签1 本地版本号:2.72"}));
    // The stale download goes before the first read; the hand-off file
    // stays until the labels are set.
    EXPECT_EQ(window.Files(), (std::vector<std::string>{"stale=0 handoff=1", "stale=0 handoff=1",
                                                        "stale=0 handoff=1"}));
    EXPECT_EQ(window.SkinningStyle(), 2);
    EXPECT_EQ(window.Caption(Control::按钮2), "开始更新");
    EXPECT_EQ(TheUpdaterState().latestVersion, "2.73");
    EXPECT_EQ(TheUpdaterState().downloadUrl, kUrl);
    ExpectFilesConsumed();
  }
}

TEST_F(CheckForUpdateTest, EndsWithTheNoticeWhenNoUpdateIsOnOffer) {
  struct Row {
    const char* name;
    const char* handoff;  // null: no hand-off file
    std::string fileName;
  };
  const std::string bigFlag = Handoff("1.0000002"), zero = Handoff("0"), two = Handoff("2"),
                    word = Handoff("ja"), empty = Handoff(""),
                    noFlag = "[配置]\r\n文件名=Tavrix.exe\r\n版本=2.73\r\n";
  const Row rows[] = {
      {"1.0000002", bigFlag.c_str(), "Tavrix.exe"}, {"0", zero.c_str(), "Tavrix.exe"},
      {"2", two.c_str(), "Tavrix.exe"},             {"a word", word.c_str(), "Tavrix.exe"},
      {"empty", empty.c_str(), "Tavrix.exe"},       {"no flag", noFlag.c_str(), "Tavrix.exe"},
      {"no hand-off file", nullptr, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ReportingWindow window(runDirectory_, true);
    const std::string handoff = row.handoff != nullptr ? row.handoff : "";
    PrepareStart(row.handoff != nullptr ? &handoff : nullptr);

    // The notice shows while the hand-off file is still there; nothing after
    // it touches the window.
    EXPECT_EXIT(CheckForUpdate(), ::testing::ExitedWithCode(0),
                NoUpdateReport(row.fileName, row.handoff != nullptr));
    ExpectFilesConsumed();
  }
}

TEST_F(CheckForUpdateTest, ShowsTheLatestVersionAsReadAndTheLocalOneStepBelow) {
  struct Row {
    const char* name;
    std::string versionLine;
    std::string latestLabel;
    std::string localLabel;
  };
  const Row rows[] = {
      {"2.73", "版本=2.73\r\n", "最新版本号:2.73", "本地版本号:2.72"},
      {"missing", "", "最新版本号:", "本地版本号:-0.01"},
      {"not a number", "版本=abc\r\n", "最新版本号:abc", "本地版本号:-0.01"},
      {"full-width", "版本=２.７３\r\n", "最新版本号:２.７３", "本地版本号:2.72"},
      {"whole number", "版本=3\r\n", "最新版本号:3", "本地版本号:2.99"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ReportingWindow window(runDirectory_, false);
    const std::string handoff = Handoff("1", row.versionLine);
    PrepareStart(&handoff);

    CheckForUpdate();

    EXPECT_EQ(window.Caption(Control::标签2), row.latestLabel);
    EXPECT_EQ(window.Caption(Control::标签1), row.localLabel);
    EXPECT_EQ(TheUpdaterState().latestVersion,
              row.latestLabel.substr(std::string_view("最新版本号:").size()));
    ExpectFilesConsumed();
  }
}

TEST_F(CheckForUpdateTest, ReadsEachKeyWhenItsStepComes) {
  ReportingWindow window(runDirectory_, false);
  const std::string first = Handoff("0", "版本=1.00\r\n");
  PrepareStart(&first);
  // The product rewrites the file just after the executable name was taken.
  window.afterSetContent = [this] { TempDir::Write(HandoffFile(), Handoff("1", "版本=2.80\r\n")); };

  CheckForUpdate();

  EXPECT_EQ(window.Caption(Control::标签2), "最新版本号:2.80");
  EXPECT_EQ(TheUpdaterState().latestVersion, "2.80");
  ExpectFilesConsumed();
}

TEST_F(CheckForUpdateTest, ASecondStartFindsNoOffer) {
  {
    ReportingWindow window(runDirectory_, false);
    const std::string handoff = Handoff("1");
    PrepareStart(&handoff);
    CheckForUpdate();
  }
  ReportingWindow window(runDirectory_, true);
  EXPECT_EXIT(CheckForUpdate(), ::testing::ExitedWithCode(0), NoUpdateReport("", false));
  ExpectFilesConsumed();
}

}  // namespace
}  // namespace updater
