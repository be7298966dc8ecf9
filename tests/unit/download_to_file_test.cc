// DownloadToFile against a scripted HTTP client and a scripted millisecond
// counter, writing real files in a temporary folder.
#include "download/download_to_file.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "app/updater_state.h"
#include "platform/files.h"
#include "tests/unit/fake_window.h"

namespace updater {
namespace {

namespace fs = std::filesystem;

// One step of the fake request's body: a read of `count` bytes, the end
// (count 0) or a failed read.
struct ReadStep {
  int32_t count = 0;
  bool ok = true;
};

// What the plain function pointers of DownloadSeams reach.
struct World {
  std::vector<std::string> events;
  std::deque<uint32_t> ticks;  // handed out in order; the last one repeats
  std::string target;          // OS path of the target file
  std::string headers;         // as passed to OpenUrl
};
World* g_world = nullptr;

bool TargetIsOpen() {
  // Any descriptor of this process on the target counts as the file open.
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc/self/fd", error)) {
    std::error_code linkError;
    const fs::path linked = fs::read_symlink(entry.path(), linkError);
    if (!linkError && linked == g_world->target) return true;
  }
  return false;
}

std::string FileState() { return TargetIsOpen() ? "file open" : "file closed"; }

uint32_t FakeTick() {
  const uint32_t tick = g_world->ticks.front();
  if (g_world->ticks.size() > 1) g_world->ticks.pop_front();
  return tick;
}

void FakeMessage(std::string_view text, std::string_view title) {
  g_world->events.push_back("message " + std::string(text) + " " + std::string(title) + ", " +
                            FileState());
}

class FakeRequest : public HttpRequest {
 public:
  FakeRequest(std::optional<int32_t> length, std::vector<ReadStep> steps)
      : length_(length), steps_(std::move(steps)) {}
  ~FakeRequest() override { g_world->events.push_back("close request, " + FileState()); }

  std::optional<int32_t> ContentLength() override { return length_; }

  bool Read(char* buffer, int32_t size, int32_t* count) override {
    EXPECT_EQ(size, kDownloadBlockSize);
    if (buffer_ == nullptr) {
      buffer_ = buffer;
      EXPECT_EQ(std::string(buffer, size), std::string(size, '\0')) << "buffer not zero-filled";
    }
    EXPECT_EQ(buffer, buffer_) << "a new buffer for a block";
    const ReadStep step = next_ < steps_.size() ? steps_[next_] : ReadStep{};
    ++next_;
    g_world->events.push_back("read");
    if (!step.ok) return false;
    std::fill(buffer, buffer + step.count, static_cast<char>('a' + next_ - 1));
    *count = step.count;
    return true;
  }

 private:
  std::optional<int32_t> length_;
  std::vector<ReadStep> steps_;
  size_t next_ = 0;
  char* buffer_ = nullptr;
};

class FakeSession : public HttpSession {
 public:
  FakeSession(bool opens, std::optional<int32_t> length, std::vector<ReadStep> steps)
      : opens_(opens), length_(length), steps_(std::move(steps)) {}
  ~FakeSession() override { g_world->events.push_back("close session, " + FileState()); }

  std::unique_ptr<HttpRequest> OpenUrl(std::string_view url, std::string_view headers) override {
    g_world->events.push_back("open url " + std::string(url));
    g_world->headers = headers;
    if (!opens_) return nullptr;
    return std::make_unique<FakeRequest>(length_, steps_);
  }

 private:
  bool opens_;
  std::optional<int32_t> length_;
  std::vector<ReadStep> steps_;
};

class FakeClient : public HttpClient {
 public:
  uint32_t flags = 0;
  bool sessionOpens = true;
  bool urlOpens = true;
  std::optional<int32_t> contentLength;
  std::vector<ReadStep> steps;

  uint32_t ConnectedStateFlags() override { return flags; }
  std::unique_ptr<HttpSession> Open(std::string_view agent, int32_t accessType) override {
    g_world->events.push_back("open " + std::string(agent) + " access " +
                              std::to_string(accessType));
    if (!sessionOpens) return nullptr;
    return std::make_unique<FakeSession>(urlOpens, contentLength, steps);
  }
};

struct Report {
  int32_t total, received, elapsed, transfer;
  bool operator==(const Report&) const = default;
};
void PrintTo(const Report& r, std::ostream* os) {
  *os << "{" << r.total << ", " << r.received << ", " << r.elapsed << ", " << r.transfer << "}";
}

class DownloadToFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/download-unit-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    world_.target = folder_ + "/target.bin";
    world_.ticks = {1000};
    g_world = &world_;
    TheUpdaterState().downloadFile.store(kNoFile);
  }
  void TearDown() override {
    CloseFile(TheUpdaterState().downloadFile.load());
    TheUpdaterState().downloadFile.store(kNoFile);
    g_world = nullptr;
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  int32_t Run(std::string_view target, ProgressCallback extra = nullptr) {
    DownloadSeams seams;
    seams.client = &client_;
    seams.tickCount = &FakeTick;
    seams.showMessage = &FakeMessage;
    return DownloadToFile(seams, "http://example.test/new.exe", target,
                          [&](int32_t total, int32_t received, int32_t elapsed, int32_t transfer) {
                            reports_.push_back({total, received, elapsed, transfer});
                            world_.events.push_back("report");
                            if (extra) extra(total, received, elapsed, transfer);
                          });
  }
  int32_t Run() { return Run(world_.target); }

  std::string TargetBytes() const {
    std::ifstream in(world_.target, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void WriteTarget(const std::string& bytes) {
    std::ofstream(world_.target, std::ios::binary) << bytes;
  }
  // Events after the agent and URL opening, which every case shares.
  std::vector<std::string> EventsFrom(size_t first) const {
    return {world_.events.begin() + static_cast<std::ptrdiff_t>(first), world_.events.end()};
  }

  std::string folder_;
  World world_;
  FakeClient client_;
  std::vector<Report> reports_;
};

TEST_F(DownloadToFileTest, WritesEveryBlockAndReportsAfterEach) {
  client_.contentLength = 25000;
  client_.steps = {{10240}, {4000}, {10240}, {520}, {0}};
  // agent, start, then one reading after each block
  world_.ticks = {7, 5000, 5003, 5003, 5100, 5250};
  ASSERT_EQ(Run(), 0);

  EXPECT_EQ(reports_, (std::vector<Report>{{25000, 10240, 3, 10240},
                                           {25000, 14240, 3, 14240},
                                           {25000, 24480, 100, 24480},
                                           {25000, 25000, 250, 25000}}));
  EXPECT_EQ(TargetBytes(), std::string(10240, 'a') + std::string(4000, 'b') +
                               std::string(10240, 'c') + std::string(520, 'd'));
  EXPECT_EQ(world_.events,
            (std::vector<std::string>{"open Agent7 access 4", "open url http://example.test/new.exe",
                                      "read", "report", "read", "report", "read", "report",
                                      "read", "report", "read", "close request, file closed",
                                      "close session, file closed"}));
  // The slot keeps naming the file, which is closed.
  EXPECT_NE(TheUpdaterState().downloadFile.load(), kNoFile);
  EXPECT_FALSE(WriteToFile(TheUpdaterState().downloadFile.load(), "x", 1));
}

TEST_F(DownloadToFileTest, SendsTheFourHeaderLinesOfTheLiteral) {
  client_.steps = {{0}};
  ASSERT_EQ(Run(), 0);
  const std::string expected =
      "Accept: */*\r\nAccept-Language: zh-cn\r\nAccept-Encoding: gzip, deflate\r\n"
      "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)";
  EXPECT_EQ(expected.size(), 156u);
  EXPECT_EQ(world_.headers, expected);
}

struct AgentCase {
  uint32_t tick;
  uint32_t flags;
  const char* opened;
};

TEST_F(DownloadToFileTest, AgentTextAndAccessType) {
  const AgentCase cases[] = {
      {0, 0, "open Agent0 access 4"},
      {123456, 4, "open Agent123456 access 0"},
      {0xFFFFFFFFu, 0x13, "open Agent-1 access 4"},  // 0x13 has no bit 4
      {0x80000000u, 0x05, "open Agent-2147483648 access 0"},
  };
  for (const AgentCase& c : cases) {
    world_.events.clear();
    world_.ticks = {c.tick};
    client_.flags = c.flags;
    client_.sessionOpens = false;
    Run();
    ASSERT_FALSE(world_.events.empty());
    EXPECT_EQ(world_.events[0], c.opened);
  }
}

struct ElapsedCase {
  const char* name;
  uint32_t start;
  uint32_t now;
  int32_t elapsed;
};

TEST_F(DownloadToFileTest, ElapsedIsTheCounterDifferenceModulo2To32) {
  const ElapsedCase cases[] = {
      {"same millisecond", 5000, 5000, 10},
      {"one millisecond", 5000, 5001, 1},
      {"counter wrapped", 0xFFFFFFF0u, 5, 21},
      {"wrapped to the same value", 0xFFFFFFFFu, 0xFFFFFFFFu, 10},
      {"half the range", 0, 0x80000000u, INT32_MIN},
      {"just under half", 1, 0x80000000u, INT32_MAX},
  };
  for (const ElapsedCase& c : cases) {
    SCOPED_TRACE(c.name);
    reports_.clear();
    world_.ticks = {1, c.start, c.now};
    client_.steps = {{100}, {0}};
    ASSERT_EQ(Run(), 0);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].elapsed, c.elapsed);
  }
}

TEST_F(DownloadToFileTest, TotalIsZeroWithoutContentLength) {
  client_.contentLength = std::nullopt;
  client_.steps = {{10}, {20}, {0}};
  ASSERT_EQ(Run(), 0);
  ASSERT_EQ(reports_.size(), 2u);
  EXPECT_EQ(reports_[0].total, 0);
  EXPECT_EQ(reports_[1].total, 0);
  EXPECT_EQ(reports_[1].received, 30);
  EXPECT_EQ(reports_[1].transfer, 30);
}

TEST_F(DownloadToFileTest, EmptyBodyLeavesAnEmptyFileAndNoReport) {
  WriteTarget("an older and longer download");
  client_.contentLength = 0;
  client_.steps = {{0}};
  ASSERT_EQ(Run(), 0);
  EXPECT_TRUE(reports_.empty());
  EXPECT_TRUE(fs::exists(world_.target));
  EXPECT_EQ(TargetBytes(), "");
}

TEST_F(DownloadToFileTest, NoConnectionShowsItsMessageAndTouchesNothing) {
  WriteTarget("old");
  client_.sessionOpens = false;
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(world_.events,
            (std::vector<std::string>{"open Agent1000 access 4",
                                      "message Internet连接错误! 信息：, file closed"}));
  EXPECT_EQ(TargetBytes(), "old");
  EXPECT_EQ(TheUpdaterState().downloadFile.load(), kNoFile);
}

TEST_F(DownloadToFileTest, UrlThatCannotBeOpenedLeavesAnExistingFileAlone) {
  WriteTarget("old");
  client_.urlOpens = false;
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(EventsFrom(2), (std::vector<std::string>{"message 不能打开该URL! 信息：, file closed",
                                                    "close session, file closed"}));
  EXPECT_EQ(TargetBytes(), "old");
  EXPECT_EQ(TheUpdaterState().downloadFile.load(), kNoFile);
}

TEST_F(DownloadToFileTest, TargetThatCannotBeCreatedEmptiesTheSlot) {
  TheUpdaterState().downloadFile.store(12345);  // an earlier value is replaced
  client_.steps = {{10}, {0}};
  EXPECT_EQ(Run(folder_ + "/missing/target.bin"), -1);
  EXPECT_EQ(EventsFrom(2),
            (std::vector<std::string>{"message 不能打开本地的文件! 信息：, file closed",
                                      "close request, file closed", "close session, file closed"}));
  EXPECT_EQ(TheUpdaterState().downloadFile.load(), kNoFile);
  EXPECT_TRUE(reports_.empty());
}

TEST_F(DownloadToFileTest, ReadFailureShowsTheMessageWhileTheFileIsStillOpen) {
  client_.contentLength = 50000;
  client_.steps = {{10240}, {300}, {0, false}};
  EXPECT_EQ(Run(), -1);
  EXPECT_EQ(EventsFrom(2),
            (std::vector<std::string>{"read", "report", "read", "report", "read",
                                      "message 读文件出错! 信息：, file open",
                                      "close request, file closed", "close session, file closed"}));
  // What had been written stays.
  EXPECT_EQ(TargetBytes(), std::string(10240, 'a') + std::string(300, 'b'));
  ASSERT_EQ(reports_.size(), 2u);
  EXPECT_EQ(reports_[1].received, 10540);
}

TEST_F(DownloadToFileTest, WriteFailureEndsWithItsOwnMessage) {
  client_.steps = {{100}, {200}, {300}, {0}};
  // The file goes away under the routine after the first block, as when
  // another thread has closed it.
  const int32_t result = Run(world_.target, [](int32_t, int32_t received, int32_t, int32_t) {
    if (received == 100) CloseFile(TheUpdaterState().downloadFile.load());
  });
  EXPECT_EQ(result, -1);
  EXPECT_EQ(EventsFrom(2),
            (std::vector<std::string>{"read", "report", "read",
                                      "message 写文件出错! 信息：, file closed",
                                      "close request, file closed", "close session, file closed"}));
  EXPECT_EQ(reports_.size(), 1u);  // no report for the block that was not written
  EXPECT_EQ(TargetBytes(), std::string(100, 'a'));
}

TEST_F(DownloadToFileTest, DefaultSeamsUseTheChosenClient) {
  SetDefaultHttpClient(&client_);
  const DownloadSeams seams = DefaultDownloadSeams();
  SetDefaultHttpClient(nullptr);
  EXPECT_EQ(seams.client, &client_);
  EXPECT_NE(seams.tickCount, nullptr);
  EXPECT_NE(seams.showMessage, nullptr);
  EXPECT_NE(DefaultDownloadSeams().client, &client_);

  // The default message box is the window's.
  testing::FakeWindowScope window;
  client_.sessionOpens = false;
  SetDefaultHttpClient(&client_);
  const int32_t result = DownloadToFile("http://example.test/", world_.target, nullptr);
  SetDefaultHttpClient(nullptr);
  EXPECT_EQ(result, -1);
  ASSERT_EQ(window.window().MessageBoxes().size(), 1u);
  EXPECT_EQ(window.window().MessageBoxes()[0].text, "Internet连接错误!");
  EXPECT_EQ(window.window().MessageBoxes()[0].title, "信息：");
}

}  // namespace
}  // namespace updater
