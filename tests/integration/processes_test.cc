// Ending the product by name and starting it, with real child processes and,
// for the window search, a real X server (Xvfb).
//
// The "product" is a copy of /bin/sleep under a name unique to this test
// process, so that parallel runs (and the product processes of other tests
// on the machine) are never mistaken for ours.
#include "platform/processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/x11_windows.h"
#include "platform/run_directory.h"
#include "text/codepage.h"
#include "text/text.h"

extern char** environ;

namespace updater {
namespace {

namespace fs = std::filesystem;

std::string Os(const char8_t* utf8) { return reinterpret_cast<const char*>(utf8); }

// With UPDATER_TEST_WINDOW_TITLE (UTF-8) or UPDATER_TEST_WINDOW_LEGACY_TITLE
// (Latin-1) in its environment, this test binary is a stand-in for a product
// with a window instead: it shows a top-level window with that title and
// its process id, and waits to be killed. UPDATER_TEST_WINDOW_HOST claims
// another host as the window's client machine.
[[noreturn]] void ShowWindowAndWait() {
  xcb_connection_t* link = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(link)) _exit(3);
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(link)).data;
  const xcb_window_t window = xcb_generate_id(link);
  xcb_create_window(link, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 100, 100, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
  auto atom = [link](const char* name) {
    xcb_intern_atom_reply_t* reply = xcb_intern_atom_reply(
        link, xcb_intern_atom(link, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    free(reply);
    return atom;
  };
  auto setText = [&](xcb_atom_t property, xcb_atom_t type, const char* text) {
    xcb_change_property(link, XCB_PROP_MODE_REPLACE, window, property, type, 8,
                        static_cast<uint32_t>(strlen(text)), text);
  };
  if (const char* title = getenv("UPDATER_TEST_WINDOW_TITLE")) {
    setText(atom("_NET_WM_NAME"), atom("UTF8_STRING"), title);
  }
  if (const char* title = getenv("UPDATER_TEST_WINDOW_LEGACY_TITLE")) {
    setText(XCB_ATOM_WM_NAME, XCB_ATOM_STRING, title);
  }
  char host[256] = {};
  gethostname(host, sizeof host - 1);
  const char* claimedHost = getenv("UPDATER_TEST_WINDOW_HOST");
  setText(XCB_ATOM_WM_CLIENT_MACHINE, XCB_ATOM_STRING, claimedHost ? claimedHost : host);
  const uint32_t pid = static_cast<uint32_t>(getpid());
  xcb_change_property(link, XCB_PROP_MODE_REPLACE, window, atom("_NET_WM_PID"), XCB_ATOM_CARDINAL,
                      32, 1, &pid);
  xcb_map_window(link, window);
  xcb_flush(link);
  for (;;) pause();
}

const bool g_isWindowStandIn = [] {
  if (getenv("UPDATER_TEST_WINDOW_TITLE") || getenv("UPDATER_TEST_WINDOW_LEGACY_TITLE")) {
    ShowWindowAndWait();
  }
  return false;
}();

template <class Condition>
bool WaitFor(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

pid_t Spawn(const std::string& path, const std::vector<std::string>& args,
            const std::vector<std::string>& extraEnvironment = {}) {
  std::vector<std::string> argStrings{path};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStrings(extraEnvironment);
  for (char** e = environ; *e != nullptr; ++e) envStrings.emplace_back(*e);
  std::vector<char*> envp;
  for (std::string& e : envStrings) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
  return pid;
}

// True once the child has ended; it stays unreaped.
bool HasEnded(pid_t pid) {
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

bool WasKilled(pid_t pid) {
  if (!WaitFor([pid] { return HasEnded(pid); })) return false;
  int status = 0;
  return waitpid(pid, &status, 0) == pid && WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
}

// Every child of this process, except the X server, is killed and reaped at
// the end of each test, whatever became of it.
std::vector<pid_t> ChildrenOfThisProcess() {
  std::vector<pid_t> children;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    std::getline(stat, line);
    const std::size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int parent = 0;
    if (sscanf(line.c_str() + close + 1, " %c %d", &state, &parent) == 2 && parent == getpid()) {
      children.push_back(std::stoi(name));
    }
  }
  return children;
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class ProcessesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    const char* display = getenv("DISPLAY");
    savedDisplay_ = display ? display : "";
    hadDisplay_ = display != nullptr;
    unsetenv("DISPLAY");
  }
  static void TearDownTestSuite() {
    if (hadDisplay_) setenv("DISPLAY", savedDisplay_.c_str(), 1);
  }

  void SetUp() override {
    char pattern[] = "/tmp/updater-processes-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
    SetRunDirectory(folder_);
    productName_ = "Tavrix" + std::to_string(getpid()) + ".exe";
  }
  void TearDown() override {
    for (pid_t child : ChildrenOfThisProcess()) {
      if (child == xServer_) continue;
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    SetRunDirectory("");
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // A copy of /bin/sleep named `osName` in the folder, started; its pid.
  pid_t StartSleepNamed(const std::string& osName) {
    const std::string path = folder_ + "/" + osName;
    std::error_code error;
    if (!fs::exists(path)) fs::copy_file("/bin/sleep", path, error);
    chmod(path.c_str(), 0755);
    return Spawn(path, {"1000"});
  }

  std::string folder_;
  std::string productName_;  // ASCII, so the same in both encodings
  static inline pid_t xServer_ = -1;
  static inline std::string savedDisplay_;
  static inline bool hadDisplay_ = false;
};

TEST_F(ProcessesTest, EndsOnlyTheFirstProcessOfTheName) {
  const pid_t a = StartSleepNamed(productName_);
  const pid_t b = StartSleepNamed(productName_);
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  const pid_t first = std::min(a, b);
  const pid_t second = std::max(a, b);

  EXPECT_TRUE(EndProcessByName(productName_));
  EXPECT_TRUE(WasKilled(first));
  EXPECT_FALSE(HasEnded(second)) << "later processes of the name keep running";

  EXPECT_TRUE(EndProcessByName(productName_));
  EXPECT_TRUE(WasKilled(second));
  EXPECT_FALSE(EndProcessByName(productName_)) << "none left";
}

TEST_F(ProcessesTest, LetterCaseCountsOnlyForAsciiLetters) {
  // "乤" is 0x81 0x61 and "丄" 0x81 0x41 in code page 936: folding their
  // second bytes as letters would make them equal.
  const pid_t product = StartSleepNamed(Os(u8"乤") + productName_);
  ASSERT_GT(product, 0);
  std::string upper = productName_;
  for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));

  EXPECT_FALSE(EndProcessByName("丄" + productName_));
  EXPECT_FALSE(EndProcessByName("乤" + productName_ + "x"));
  EXPECT_FALSE(EndProcessByName(""));
  EXPECT_FALSE(HasEnded(product));
  EXPECT_TRUE(EndProcessByName("乤" + upper));
  EXPECT_TRUE(WasKilled(product));
}

TEST_F(ProcessesTest, AProductWhoseExecutableWasReplacedIsStillFoundByName) {
  const pid_t product = StartSleepNamed(productName_);
  ASSERT_GT(product, 0);
  // Its file is deleted while it runs: the link then reads "… (deleted)".
  ASSERT_EQ(unlink((folder_ + "/" + productName_).c_str()), 0);
  EXPECT_TRUE(EndProcessByName(productName_));
  EXPECT_TRUE(WasKilled(product));
}

TEST_F(ProcessesTest, StartProductRunsItInASessionOfItsOwnWithOurDirectoryAndEnvironment) {
  // The product reports what it got, then becomes a sleep.
  const std::string product = folder_ + Os(u8"/Tavrix.exe");
  std::ofstream(product) << "#!/bin/sh\n"
                            "report=\"$(dirname \"$0\")/started\"\n"
                            "{ echo \"$# $$\"; pwd -P; echo \"$UPDATER_TEST_MARKER\"; } > \"$report.tmp\"\n"
                            "mv \"$report.tmp\" \"$report\"\n"
                            "exec sleep 1000\n";
  ASSERT_EQ(chmod(product.c_str(), 0755), 0);
  // What must not reach it: a descriptor without close-on-exec, an ignored
  // and a blocked signal.
  const std::string marker = folder_ + "/marker";
  const int inheritable = open(marker.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(inheritable, 0);
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGUSR1, &ignore, &previous);
  sigset_t blocked;
  sigset_t previousMask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &blocked, &previousMask);
  setenv("UPDATER_TEST_MARKER", "inherited", 1);

  const bool started = StartProduct(JoinText(RunDirectory(), "\\Tavrix.exe"), 1000);

  unsetenv("UPDATER_TEST_MARKER");
  pthread_sigmask(SIG_SETMASK, &previousMask, nullptr);
  sigaction(SIGUSR1, &previous, nullptr);
  close(inheritable);
  ASSERT_TRUE(started);

  const std::string reportPath = folder_ + "/started";
  ASSERT_TRUE(WaitFor([&] { return fs::exists(reportPath); }));
  std::ifstream report(reportPath);
  int arguments = -1;
  pid_t pid = 0;
  std::string directory, environment;
  report >> arguments >> pid >> directory >> environment;
  ASSERT_GT(pid, 0);
  EXPECT_EQ(arguments, 0);
  EXPECT_EQ(getsid(pid), pid) << "a session of its own";
  EXPECT_EQ(directory, fs::current_path().string());
  EXPECT_EQ(environment, "inherited");

  // The rest is read once the sleep has fully taken over the process (its
  // environment is laid out last), as the shell blocks signals at times.
  const std::string proc = "/proc/" + std::to_string(pid);
  ASSERT_TRUE(WaitFor([&] {
    std::error_code error;
    return fs::read_symlink(proc + "/exe", error).filename() == "sleep" &&
           !ReadWhole(proc + "/environ").empty();
  }));
  const std::string status = ReadWhole(proc + "/status");
  EXPECT_NE(status.find("SigBlk:\t0000000000000000\n"), std::string::npos) << status;
  EXPECT_NE(status.find("SigIgn:\t0000000000000000\n"), std::string::npos) << status;
  for (const auto& fd : fs::directory_iterator(proc + "/fd")) {
    std::error_code error;
    EXPECT_NE(fs::read_symlink(fd.path(), error).string(), marker) << fd.path();
  }
}

TEST_F(ProcessesTest, StartProductFailsForWhatCannotRun) {
  EXPECT_FALSE(StartProduct(JoinText(RunDirectory(), "\\Tavrix.exe"), 1000));
  std::ofstream(folder_ + "/Tavrix.exe") << "not executable";
  EXPECT_FALSE(StartProduct(JoinText(RunDirectory(), "\\Tavrix.exe"), 1000));
  EXPECT_FALSE(StartProduct("", 1000));
}

// The same, with an X server: products with windows.
class ProductWindowsTest : public ProcessesTest {
 protected:
  static void SetUpTestSuite() {
    ProcessesTest::SetUpTestSuite();
    if (access("/usr/bin/Xvfb", X_OK) != 0) return;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 3);
    // -noreset: the checks connect and go again and again, and a server that
    // resets whenever its last client leaves may refuse the next one.
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    char* argv[] = {const_cast<char*>("Xvfb"), const_cast<char*>("-displayfd"), const_cast<char*>("3"),
                    const_cast<char*>("-nolisten"), const_cast<char*>("tcp"),
                    const_cast<char*>("-noreset"), nullptr};
    pid_t server = -1;
    if (posix_spawn(&server, "/usr/bin/Xvfb", &actions, nullptr, argv, environ) != 0) server = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    // Xvfb writes its display number once it accepts connections.
    std::string number;
    pollfd ready{ends[0], POLLIN, 0};
    char c = 0;
    while (server > 0 && poll(&ready, 1, 30000) == 1 && read(ends[0], &c, 1) == 1 && c != '\n') {
      number += c;
    }
    close(ends[0]);
    if (server > 0 && !number.empty()) {
      xServer_ = server;
      setenv("DISPLAY", (":" + number).c_str(), 1);
    } else if (server > 0) {
      kill(server, SIGKILL);
      waitpid(server, nullptr, 0);
    }
  }
  static void TearDownTestSuite() {
    if (xServer_ > 0) {
      kill(xServer_, SIGTERM);
      waitpid(xServer_, nullptr, 0);
      xServer_ = -1;
    }
    unsetenv("DISPLAY");
    ProcessesTest::TearDownTestSuite();
  }
  void SetUp() override {
    if (xServer_ <= 0) GTEST_SKIP() << "no X server";
    ProcessesTest::SetUp();
  }

  static std::string ThisExecutable() { return fs::read_symlink("/proc/self/exe").string(); }

  // This binary as a product showing a window titled `title` (UTF-8); its
  // pid once the window is there.
  pid_t StartWindow(const std::string& title, const std::vector<std::string>& environment) {
    const pid_t pid = Spawn(ThisExecutable(), {}, environment);
    if (pid <= 0) return -1;
    const bool shown = WaitFor([&] {
      std::unique_ptr<X11Display> display = X11Display::Open();
      if (!display) return false;
      for (const TopLevelWindow& window : display->TopLevelWindows()) {
        if (window.title == title) return true;
      }
      return HasEnded(pid);
    });
    return shown && !HasEnded(pid) ? pid : -1;
  }
};

TEST_F(ProductWindowsTest, TheOwnerOfAWindowWithTheTitleGoesFirst) {
  // A process of that executable name with a lower id, and a window of that
  // title owned by another process: the window wins.
  const std::string title = "Tavrix窗口" + std::to_string(getpid());  // program text
  const pid_t named = StartSleepNamed(GbkToUtf8(title));
  const pid_t owner = StartWindow(GbkToUtf8(title), {"UPDATER_TEST_WINDOW_TITLE=" + GbkToUtf8(title)});
  ASSERT_GT(named, 0);
  ASSERT_GT(owner, 0);
  ASSERT_LT(named, owner);

  EXPECT_TRUE(EndProcessByName("tAVRIX窗口" + std::to_string(getpid())));
  EXPECT_TRUE(WasKilled(owner));
  EXPECT_FALSE(HasEnded(named));
}

TEST_F(ProductWindowsTest, OlderTitlesAreLatin1AndForeignWindowsAreNotOurs) {
  const std::string suffix = std::to_string(getpid());
  const pid_t legacy = StartWindow(Os(u8"Café ") + suffix,
                                   {"UPDATER_TEST_WINDOW_LEGACY_TITLE=Caf\xE9 " + suffix});
  const pid_t foreign = StartWindow("Remote " + suffix, {"UPDATER_TEST_WINDOW_TITLE=Remote " + suffix,
                                                         "UPDATER_TEST_WINDOW_HOST=elsewhere.invalid"});
  ASSERT_GT(legacy, 0);
  ASSERT_GT(foreign, 0);

  // A process id from another host means nothing here.
  EXPECT_FALSE(EndProcessByName("Remote " + suffix));
  EXPECT_FALSE(HasEnded(foreign));
  EXPECT_TRUE(EndProcessByName("CAFé " + suffix));  // "é" is in code page 936 too
  EXPECT_TRUE(WasKilled(legacy));
}

TEST_F(ProductWindowsTest, StartProductWaitsUntilTheProductShowsItsWindow) {
  const std::string title = Os(u8"Tavrix启动") + std::to_string(getpid());
  setenv("UPDATER_TEST_WINDOW_TITLE", title.c_str(), 1);
  const bool started = StartProduct(ThisExecutable(), 30000);
  unsetenv("UPDATER_TEST_WINDOW_TITLE");
  ASSERT_TRUE(started);
  std::unique_ptr<X11Display> display = X11Display::Open();
  ASSERT_TRUE(display);
  pid_t shown = 0;
  for (const TopLevelWindow& window : display->TopLevelWindows()) {
    if (window.title == title) shown = window.pid;
  }
  ASSERT_GT(shown, 0) << "the window is there when StartProduct returns";
  EXPECT_EQ(getsid(shown), shown);
}

}  // namespace
}  // namespace updater
