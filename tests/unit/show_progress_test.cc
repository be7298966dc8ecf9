#include "download/show_progress.h"

#include <gtest/gtest.h>

#include "app/updater_state.h"
#include "tests/unit/fake_window.h"

namespace updater {
namespace {

using testing::FakeWindow;
using testing::FakeWindowScope;

struct ProgressCase {
  int32_t total, received, elapsedMs;
  const char* banner;
  const char* size;
  const char* got;
  const char* elapsed;
  const char* speed;
  const char* remaining;  // what 标签10 shows afterwards
  int32_t position;
  const char* percent;
};

// The worked examples, then the edge cases, one report each into a fresh
// window whose 标签10 still shows its initial text.
const ProgressCase kCases[] = {
    {2097152, 1048576, 4000, "正在下载:Tavrix V2.73", "文件大小:2048KB", "已下载:1024KB\r\n",
     "所用时间:4秒\r\n", "下载速度:256KB/s\r\n", "剩余时间:0时0分4秒", 5000, "下载进度:50%"},
    {3000000, 1234567, 2500, "正在下载:Tavrix V2.73", "文件大小:2929.69KB",
     "已下载:1205.63KB\r\n", "所用时间:2秒\r\n", "下载速度:482.25KB/s\r\n", "剩余时间:0时0分3秒",
     4115, "下载进度:41.15%"},
    {2000000000, 1048576, 10000, "正在下载:Tavrix V2.73", "文件大小:1953125KB",
     "已下载:1024KB\r\n", "所用时间:10秒\r\n", "下载速度:102.4KB/s\r\n",
     "剩余时间:5时17分43秒", 5, "下载进度:0.05%"},
    // under one second
    {1536, 1536, 999, "正在下载:Tavrix V2.73", "文件大小:1.5KB", "已下载:1.5KB\r\n",
     "所用时间:0秒\r\n", "下载速度:1.5KB/s\r\n", "剩余时间:0时0分0秒", 10000,
     "下载进度:100%"},
    // 2 of 3 bytes
    {3, 2, 10, "正在下载:Tavrix V2.73", "文件大小:0KB", "已下载:0KB\r\n", "所用时间:0秒\r\n",
     "下载速度:0.2KB/s\r\n", "剩余时间:0时0分0秒", 6666, "下载进度:66.66%"},
    // a speed that rounds to 0: 标签10 keeps its text
    {5000000, 10240, 3000000, "正在下载:Tavrix V2.73", "文件大小:4882.81KB", "已下载:10KB\r\n",
     "所用时间:3000秒\r\n", "下载速度:0KB/s\r\n", "剩余时间:", 20, "下载进度:0.2%"},
    // no total: no remaining time, position 0
    {0, 4096, 1000, "正在下载:Tavrix V2.73", "文件大小:0KB", "已下载:4KB\r\n", "所用时间:1秒\r\n",
     "下载速度:4KB/s\r\n", "剩余时间:", 0, "下载进度:0%"},
    // more received than announced: a full bar reading 120%
    {1000, 1200, 1000, "正在下载:Tavrix V2.73", "文件大小:0.98KB", "已下载:1.17KB\r\n",
     "所用时间:1秒\r\n", "下载速度:1.17KB/s\r\n", "剩余时间:", 12000, "下载进度:120%"},
    // 542 hours are not folded into days
    {2000000000, 10240, 10000, "正在下载:Tavrix V2.73", "文件大小:1953125KB", "已下载:10KB\r\n",
     "所用时间:10秒\r\n", "下载速度:1KB/s\r\n", "剩余时间:542时31分55秒", 0, "下载进度:0%"},
};

class ShowProgressTest : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(ShowProgressTest, OneReportSetsEveryCaptionAndThePosition) {
  const ProgressCase& c = GetParam();
  FakeWindowScope scope;
  TheUpdaterState().latestVersion = "2.73";
  ShowProgress(c.total, c.received, c.elapsedMs, c.received);
  FakeWindow& w = scope.window();
  EXPECT_EQ(w.Caption(Control::标签4), c.banner);
  EXPECT_EQ(w.Caption(Control::标签6), c.size);
  EXPECT_EQ(w.Caption(Control::标签7), c.got);
  EXPECT_EQ(w.Caption(Control::标签8), c.elapsed);
  EXPECT_EQ(w.Caption(Control::标签9), c.speed);
  EXPECT_EQ(w.Caption(Control::标签10), c.remaining);
  EXPECT_EQ(w.Position(), c.position);
  EXPECT_EQ(w.Caption(Control::标签5), c.percent);
  TheUpdaterState().latestVersion.clear();
}

INSTANTIATE_TEST_SUITE_P(Reports, ShowProgressTest, ::testing::ValuesIn(kCases));

TEST(ShowProgress, StepsRunInOrderAndThePercentageReadsThePositionBack) {
  FakeWindowScope scope;
  ShowProgress(3000000, 1234567, 2500, 1234567);
  std::vector<std::string> kinds;
  for (const std::string& op : scope.window().Operations()) {
    kinds.push_back(op.substr(0, op.find(' ', op.find(' ') + 1)));
  }
  const std::vector<std::string> expected = {
      "SetCaption 标签4", "SetCaption 标签6",  "SetCaption 标签7",   "SetCaption 标签8",
      "SetCaption 标签9", "SetCaption 标签10", "SetPosition 进度条1", "ReadPosition 进度条1",
      "SetCaption 标签5"};
  EXPECT_EQ(kinds, expected);
}

TEST(ShowProgress, LaterReportWithoutRemainingTimeKeepsTheEarlierOne) {
  FakeWindowScope scope;
  ShowProgress(2097152, 1048576, 4000, 1048576);
  ShowProgress(5000000, 10240, 3000000, 10240);  // speed rounds to 0
  EXPECT_EQ(scope.window().Caption(Control::标签10), "剩余时间:0时0分4秒");
}

TEST(ShowProgress, MissingVersionLeavesTheBannerEndingInV) {
  FakeWindowScope scope;
  TheUpdaterState().latestVersion.clear();
  ShowProgress(10, 5, 10, 5);
  EXPECT_EQ(scope.window().Caption(Control::标签4), "正在下载:Tavrix V");
}

TEST(ShowProgress, PositionAboveTheLimitReadsBackAs32767) {
  FakeWindowScope scope;
  ShowProgress(1, 10, 10, 10);  // 100000 stored as 32767
  EXPECT_EQ(scope.window().Position(), 32767);
  EXPECT_EQ(scope.window().Caption(Control::标签5), "下载进度:327.67%");
}

}  // namespace
}  // namespace updater
