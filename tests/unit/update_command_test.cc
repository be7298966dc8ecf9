#include "install/update_command.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

#include "app/updater_state.h"
#include "download/download_to_file.h"
#include "platform/run_directory.h"
#include "tests/unit/fake_http_client.h"
#include "tests/unit/fake_window.h"
#include "tests/unit/temp_dir.h"

namespace updater {
namespace {

namespace fs = std::filesystem;
using testing::FakeHttpClient;
using testing::FakeResponse;
using testing::FakeWindowScope;
using testing::TempDir;

const std::string kNewProduct(30000, 'N');
const fs::path kDownloadName = fs::path(u8"Tavrix更新.tmp");

// A run directory inside a temporary folder, so that a name climbing out of
// it ("../x") lands on a file the test can watch.
class UpdateCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    run_ = temp_.path() / "run";
    fs::create_directory(run_);
    SetRunDirectory(run_.string());
    SetDefaultHttpClient(&client_);
    UpdaterState& state = TheUpdaterState();
    state.downloadUrl = "http://127.0.0.1/new";
    state.latestVersion = "2.73";
    state.workerThread = kNoThread;
  }
  void TearDown() override {
    SetDefaultHttpClient(nullptr);
    ReleaseUpdaterState();
  }

  // The state the click leaves before the worker runs.
  void PressedStart(const std::string& productName) {
    window().SetContent(Control::编辑框1, productName);
    window().SetCaption(Control::按钮2, "正在更新");
    window().Disable(Control::按钮2);
    TheUpdaterState().targetDirectory = RunDirectory() + "\\";
  }

  testing::FakeWindow& window() { return scope_.window(); }
  bool Installed() {
    return window().Caption(Control::按钮2) == "启动Tavrix" && window().Enabled(Control::按钮2) &&
           window().Caption(Control::标签5) == "下载完成！" && window().Position() == 10000;
  }
  void ExpectOneMessage(const std::string& text) {
    const std::vector<testing::MessageBoxCall> boxes = window().MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].title, "信息：");
  }
  void ExpectStillUpdating() {
    EXPECT_EQ(window().Caption(Control::按钮2), "正在更新");
    EXPECT_FALSE(window().Enabled(Control::按钮2));
    EXPECT_NE(window().Caption(Control::标签5), "下载完成！");
  }

  TempDir temp_;
  fs::path run_;
  FakeHttpClient client_{FakeResponse{.contentLength = 30000, .body = kNewProduct}};
  FakeWindowScope scope_;
};

TEST_F(UpdateCommandTest, InstallsTheDownloadAsAnExecutableAndDeletesTheOldOne) {
  TempDir::Write(run_ / "Old.exe", "old");
  PressedStart("Old.exe");
  RunInstall();
  EXPECT_TRUE(Installed());
  EXPECT_EQ(TempDir::Read(run_ / "Tavrix.exe"), kNewProduct);
  struct stat st{};
  ASSERT_EQ(stat((run_ / "Tavrix.exe").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0755u);
  EXPECT_FALSE(fs::exists(run_ / kDownloadName));
  EXPECT_FALSE(fs::exists(run_ / "Old.exe"));
}

TEST_F(UpdateCommandTest, OldExecutableOfTheSameNameIsReplacedNotDeleted) {
  TempDir::Write(run_ / "Tavrix.exe", "old");
  PressedStart("Tavrix.exe");
  RunInstall();
  EXPECT_TRUE(Installed());
  EXPECT_EQ(TempDir::Read(run_ / "Tavrix.exe"), kNewProduct);
}

// A name that is not a plain file of the run directory deletes nothing; the
// installation itself goes on.
TEST_F(UpdateCommandTest, NameThatIsNoPlainFileNameDeletesNothing) {
  TempDir::Write(temp_ / "outside", "keep");
  TempDir::Write(run_ / "keep.txt", "keep");
  for (const char* name : {"", ".", "..", "../outside", "a\\..\\keep.txt", "/etc/hostname",
                           "sub/keep.txt"}) {
    SCOPED_TRACE(name);
    fs::remove(run_ / "Tavrix.exe");
    window().SetCaption(Control::标签5, "");
    PressedStart(name);
    RunInstall();
    EXPECT_TRUE(Installed());
    EXPECT_EQ(TempDir::Read(run_ / "Tavrix.exe"), kNewProduct);
    EXPECT_TRUE(fs::exists(temp_ / "outside"));
    EXPECT_TRUE(fs::exists(run_ / "keep.txt"));
    EXPECT_TRUE(fs::is_directory(run_));
  }
}

TEST_F(UpdateCommandTest, FailedDownloadChangesNothingElse) {
  FakeResponse unreachable;
  unreachable.openFails = true;
  client_ = FakeHttpClient(unreachable);
  TempDir::Write(run_ / "Tavrix.exe", "old");
  PressedStart("Tavrix.exe");
  RunInstall();
  ExpectStillUpdating();
  ExpectOneMessage("不能打开该URL!");
  EXPECT_EQ(TempDir::Read(run_ / "Tavrix.exe"), "old");
}

TEST_F(UpdateCommandTest, FailedRenameKeepsTheOldExecutableAndSaysSo) {
  // A folder where the new executable should go makes the rename fail.
  fs::create_directories(run_ / "Tavrix.exe" / "inside");
  TempDir::Write(run_ / "Old.exe", "old");
  PressedStart("Old.exe");
  RunInstall();
  ExpectStillUpdating();
  ExpectOneMessage("安装新版本出错!");
  EXPECT_EQ(TempDir::Read(run_ / "Old.exe"), "old");
  EXPECT_EQ(TempDir::Read(run_ / kDownloadName), kNewProduct);
}

// A body of no bytes is no program: the old executable stays in place.
TEST_F(UpdateCommandTest, EmptyDownloadIsNotInstalled) {
  client_ = FakeHttpClient(FakeResponse{.contentLength = 0, .body = ""});
  TempDir::Write(run_ / "Tavrix.exe", "old");
  TempDir::Write(run_ / "Old.exe", "old too");
  PressedStart("Old.exe");
  RunInstall();
  ExpectStillUpdating();
  ExpectOneMessage("安装新版本出错!");
  EXPECT_EQ(TempDir::Read(run_ / "Tavrix.exe"), "old");
  EXPECT_EQ(TempDir::Read(run_ / "Old.exe"), "old too");
  EXPECT_TRUE(fs::exists(run_ / kDownloadName));
  EXPECT_EQ(fs::file_size(run_ / kDownloadName), 0u);
}

TEST_F(UpdateCommandTest, ClickStartsOneWorkerAndASecondClickNothing) {
  window().SetContent(Control::编辑框1, "Tavrix.exe");
  OnUpdateButtonClicked();
  OnUpdateButtonClicked();
  const std::vector<std::string> ops = window().Operations();
  // The caption and the disabling come before anything the worker does.
  const auto read = std::find(ops.begin(), ops.end(), "ReadCaption 按钮2");
  ASSERT_LT(read + 2, ops.end());
  EXPECT_EQ(read[1], "SetCaption 按钮2 正在更新");
  EXPECT_EQ(read[2], "Disable 按钮2");
  EXPECT_EQ(TheUpdaterState().targetDirectory, RunDirectory() + "\\");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!Installed() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_TRUE(Installed());
  EXPECT_EQ(client_.urls.size(), 1u);
}

TEST_F(UpdateCommandTest, OtherCaptionsDoNothing) {
  window().SetCaption(Control::按钮2, "正在更新");
  OnUpdateButtonClicked();
  EXPECT_EQ(TheUpdaterState().workerThread.load(), kNoThread);
  EXPECT_TRUE(client_.urls.empty());
}

TEST_F(UpdateCommandTest, LaunchStartsTheProductAndEndsWithZero) {
  const fs::path marker = run_ / "started";
  TempDir::Write(run_ / "Tavrix.exe", "#!/bin/sh\npwd > started\n");
  fs::permissions(run_ / "Tavrix.exe", fs::perms::owner_all);
  fs::current_path(run_);  // the product inherits the updater's directory
  window().SetCaption(Control::按钮2, "启动Tavrix");
  EXPECT_EXIT(OnUpdateButtonClicked(), ::testing::ExitedWithCode(0), "");
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (TempDir::Read(marker).empty() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(TempDir::Read(marker), run_.string() + "\n");
  fs::current_path(temp_.path().parent_path());
}

TEST_F(UpdateCommandTest, LaunchEndsWithZeroEvenWhenTheProductCannotStart) {
  window().SetCaption(Control::按钮2, "启动Tavrix");
  EXPECT_EXIT(OnUpdateButtonClicked(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace updater
