// The two close paths while the worker is in the middle of an update that
// downloads from the loopback server: writing a body that arrives slowly,
// blocked in a read of a body that has stalled, or waiting inside a message
// box that nobody dismisses.
//
// Ending the program ends the process, so each case runs in a child process
// (a death test): the update starts as a click starts it, the child waits
// until the worker is where the case wants it, and then runs the close path,
// which must end the process at once with exit code 0. The parent then looks
// at what the worker left on disk. Under ThreadSanitizer these cases are the
// window's thread and the worker meeting on the download file, the window
// and the updater's state.
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "app/close_paths.h"
#include "app/updater_state.h"
#include "install/update_command.h"
#include "platform/run_directory.h"
#include "tests/integration/download_test_server.h"
#include "tests/unit/fake_window.h"
#include "tests/unit/temp_dir.h"
#include "ui/updater_window.h"

namespace updater {
namespace {

namespace fs = std::filesystem;
using testing::MonotonicMs;
using testing::TempDir;
using testing::TestHttpServer;

const fs::path kDownloadName = fs::path(u8"Tavrix更新.tmp");

// A window whose message boxes the user never dismisses: the worker stays
// inside ShowMessageBox, as it does while the real box is up.
class UndismissedBoxWindow : public testing::FakeWindow {
 public:
  void ShowMessageBox(std::string_view text, std::string_view title) override {
    FakeWindow::ShowMessageBox(text, title);
    std::unique_lock lock(boxMutex_);
    neverDismissed_.wait(lock, [] { return false; });
  }

 private:
  std::mutex boxMutex_;
  std::condition_variable neverDismissed_;
};

// The body the server generates: byte i is i % 251.
bool IsStartOfGeneratedBody(const std::string& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (static_cast<unsigned char>(bytes[i]) != i % 251) return false;
  }
  return true;
}

int64_t FileSize(const fs::path& file) {
  struct stat info {};
  return stat(file.c_str(), &info) == 0 ? static_cast<int64_t>(info.st_size) : -1;
}

struct CloseCase {
  const char* what;
  std::string pathAndQuery;
  int64_t bytesBeforeClose;  // the close comes once the file holds this much
  bool closeInMessageBox;    // ... or once the worker shows its message box
  void (*closePath)();
  bool deletesHandoffFile;
};

class ClosePathsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Loopback is never sent through a proxy the environment may name.
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    run_ = temp_ / "run";
    fs::create_directories(run_ / "pz");
    TempDir::Write(run_ / "pz" / "gx.ini", "[x]\r\n");
    fs::create_directory(temp_ / "served");
    ASSERT_TRUE(server_.Start((temp_ / "served").string(), (temp_ / "requests.jsonl").string()));
  }
  void TearDown() override { server_.Stop(); }

  // The child's part; never returns.
  [[noreturn]] void CloseDuringUpdate(const CloseCase& c) {
    UndismissedBoxWindow window;
    SetTheWindow(&window);
    SetRunDirectory(run_.string());
    TheUpdaterState().downloadUrl = server_.Url(c.pathAndQuery);
    window.SetContent(Control::编辑框1, "Tavrix.exe");
    OnUpdateButtonClicked();  // on this thread, as the window's thread runs it

    const int64_t deadline = MonotonicMs() + 60000;
    for (;;) {
      const bool there = c.closeInMessageBox ? !window.MessageBoxes().empty()
                                             : FileSize(run_ / kDownloadName) >= c.bytesBeforeClose;
      if (there) break;
      if (MonotonicMs() > deadline) {
        std::fprintf(stderr, "the worker never got to the point of closing\n");
        _exit(3);
      }
      poll(nullptr, 0, 5);
    }
    c.closePath();
    std::fprintf(stderr, "the close path returned\n");
    _exit(4);
  }

  TempDir temp_;
  fs::path run_;
  TestHttpServer server_;
};

TEST_F(ClosePathsTest, EndTheProgramAtOnceWhateverTheWorkerIsDoing) {
  const CloseCase cases[] = {
      // 20 MB at 2 MB/s: the worker writes a block every few milliseconds.
      {"close button while writing", "/_/gen/20000000?rate=2000000", 200000, false,
       &OnCloseButtonClicked, false},
      {"window destroyed while writing", "/_/gen/20000000?rate=2000000", 200000, false,
       &OnWindowWillBeDestroyed, true},
      {"close button while a read waits for a stalled body",
       "/_/gen/100000?cut=50000&after=stall", 50000, false, &OnCloseButtonClicked, false},
      // A body that breaks off is a read error; its box comes before the
      // file is closed, so the worker still holds the file.
      {"window destroyed while the worker's message box is up",
       "/_/gen/100000?cut=30000&after=reset", 0, true, &OnWindowWillBeDestroyed, true},
  };
  for (const CloseCase& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove(run_ / kDownloadName);
    if (!fs::exists(run_ / "pz" / "gx.ini")) TempDir::Write(run_ / "pz" / "gx.ini", "[x]\r\n");

    EXPECT_EXIT(CloseDuringUpdate(c), ::testing::ExitedWithCode(0), "");

    // The partial download stays: it was open, so deleting it was refused.
    // It holds the body's first bytes as they came, nothing else.
    const std::string partial = TempDir::Read(run_ / kDownloadName);
    EXPECT_GE(static_cast<int64_t>(partial.size()), c.bytesBeforeClose);
    EXPECT_LT(partial.size(), 20000000u);
    EXPECT_TRUE(IsStartOfGeneratedBody(partial));
    EXPECT_FALSE(fs::exists(run_ / "Tavrix.exe"));
    EXPECT_EQ(fs::exists(run_ / "pz" / "gx.ini"), !c.deletesHandoffFile);
  }
}

}  // namespace
}  // namespace updater
