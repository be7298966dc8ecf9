// Threads with a stop flag each.
//
// A handle names a slot of a small table and the slot's generation, packed
// with the slot's state into one atomic word, so that force-ending a thread
// that has finished (whose slot may already serve a newer thread) does
// nothing.
#include "platform/threads.h"

#include <unistd.h>

#include <atomic>
#include <system_error>
#include <thread>

namespace updater {

namespace {

constexpr int kSlotBits = 6;
constexpr int kSlotCount = 1 << kSlotBits;
constexpr uint32_t kGenerationLimit = 1u << 24;  // keeps every handle positive

// Slot word: generation << 2 | running << 1 | stop.
constexpr uint32_t kRunning = 2;
constexpr uint32_t kStop = 1;

std::atomic<uint32_t> g_slots[kSlotCount];

thread_local std::atomic<uint32_t>* t_ownSlot = nullptr;

uint32_t GenerationOf(uint32_t word) { return word >> 2; }

void RunInSlot(int index, void (*entry)()) {
  std::atomic<uint32_t>& slot = g_slots[index];
  t_ownSlot = &slot;
  entry();
  // Keeps the generation, so a late ForceEndThread finds nothing to mark.
  slot.fetch_and(~(kRunning | kStop), std::memory_order_acq_rel);
}

}  // namespace

ThreadHandle StartThread(void (*entry)()) {
  if (entry == nullptr) return kNoThread;
  for (int index = 0; index < kSlotCount; ++index) {
    std::atomic<uint32_t>& slot = g_slots[index];
    uint32_t word = slot.load(std::memory_order_acquire);
    if (word & kRunning) continue;
    const uint32_t generation = GenerationOf(word) % (kGenerationLimit - 1) + 1;
    if (!slot.compare_exchange_strong(word, (generation << 2) | kRunning,
                                      std::memory_order_acq_rel)) {
      continue;
    }
    try {
      std::thread(RunInSlot, index, entry).detach();
    } catch (const std::system_error&) {
      slot.store(generation << 2, std::memory_order_release);
      return kNoThread;
    }
    return static_cast<ThreadHandle>((generation << kSlotBits) | static_cast<uint32_t>(index));
  }
  return kNoThread;
}

void ForceEndThread(ThreadHandle thread) {
  if (thread < 0) return;
  std::atomic<uint32_t>& slot = g_slots[thread & (kSlotCount - 1)];
  const uint32_t generation = static_cast<uint32_t>(thread) >> kSlotBits;
  uint32_t word = slot.load(std::memory_order_acquire);
  while (GenerationOf(word) == generation && (word & kRunning) && !(word & kStop)) {
    if (slot.compare_exchange_weak(word, word | kStop, std::memory_order_acq_rel)) return;
  }
}

bool StopRequested() {
  const std::atomic<uint32_t>* slot = t_ownSlot;
  return slot != nullptr && (slot->load(std::memory_order_acquire) & kStop) != 0;
}

void StopPoint() {
  if (!StopRequested()) return;
  // Parked for good: the process ends right after a force-end, and this
  // thread must make no further change before it does.
  for (;;) pause();
}

}  // namespace updater
