// Threads started, force-ended and parked, on real threads.
#include "platform/threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace updater {
namespace {

// Plain entry points share state through these; each test resets them.
std::atomic<int> g_rounds[2];
std::atomic<bool> g_sawStop[2];
std::atomic<bool> g_passedStopPoint[2];

template <int kIndex>
void LoopAtStopPoints() {
  for (;;) {
    if (StopRequested()) g_sawStop[kIndex] = true;
    StopPoint();
    if (g_sawStop[kIndex]) g_passedStopPoint[kIndex] = true;
    ++g_rounds[kIndex];
    std::this_thread::yield();
  }
}

template <class Condition>
bool WaitFor(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST(Threads, AForceEndedThreadParksAtItsNextStopPointAndNoOtherStops) {
  for (int i = 0; i < 2; ++i) {
    g_rounds[i] = 0;
    g_sawStop[i] = false;
    g_passedStopPoint[i] = false;
  }
  const ThreadHandle ended = StartThread(&LoopAtStopPoints<0>);
  const ThreadHandle running = StartThread(&LoopAtStopPoints<1>);
  ASSERT_NE(ended, kNoThread);
  ASSERT_NE(running, kNoThread);
  ASSERT_NE(ended, running);
  ASSERT_TRUE(WaitFor([] { return g_rounds[0] > 10 && g_rounds[1] > 10; }));

  ForceEndThread(ended);
  ASSERT_TRUE(WaitFor([] { return g_sawStop[0].load(); }));
  const int roundsAtStop = g_rounds[1];
  // Give the parked thread ample chance to run on: the other one keeps going.
  ASSERT_TRUE(WaitFor([&] { return g_rounds[1] > roundsAtStop + 1000; }));
  EXPECT_FALSE(g_passedStopPoint[0]);
  EXPECT_FALSE(g_sawStop[1]);
  EXPECT_FALSE(StopRequested()) << "the test's own thread";
  StopPoint();  // returns here

  ForceEndThread(running);  // both stay parked until the process ends
  ASSERT_TRUE(WaitFor([] { return g_sawStop[1].load(); }));
}

std::atomic<int> g_finished{0};
void Finish() { ++g_finished; }

std::atomic<bool> g_laterMayLook{false};
std::atomic<bool> g_laterSawStop{false};
std::atomic<bool> g_laterDone{false};
void CheckStopThenFinish() {
  while (!g_laterMayLook) std::this_thread::yield();
  g_laterSawStop = StopRequested();
  g_laterDone = true;
}

TEST(Threads, ForceEndingNothingOrAFinishedThreadIsHarmless) {
  ForceEndThread(kNoThread);
  EXPECT_EQ(StartThread(nullptr), kNoThread);
  const ThreadHandle finished = StartThread(&Finish);
  ASSERT_NE(finished, kNoThread);
  ASSERT_TRUE(WaitFor([] { return g_finished > 0; }));
  ForceEndThread(finished);
  // Most likely in the slot the finished thread gave back.
  const ThreadHandle later = StartThread(&CheckStopThenFinish);
  ASSERT_NE(later, kNoThread);
  EXPECT_NE(later, finished);
  ForceEndThread(finished);  // stale: must not reach the later thread
  g_laterMayLook = true;
  ASSERT_TRUE(WaitFor([] { return g_laterDone.load(); }));
  EXPECT_FALSE(g_laterSawStop);
}

}  // namespace
}  // namespace updater
