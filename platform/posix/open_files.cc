// The program's open files: creating, writing and closing them.
//
// A handle names a slot of a small fixed table and the slot's generation, so
// a stale handle (a file closed before, possibly from another thread) never
// reaches a file opened later in the same slot. The slot holds the
// descriptor in one atomic word, which makes closing from another thread
// safe without a lock: the closer takes the descriptor out of the slot, and
// a writer re-reads the slot before every write.
//
// The descriptor number itself is the hard part. A writer may have read the
// number just before the close and be about to write to it. If the close
// freed the number, the next open anywhere in the process could get it and
// the late write would land in that file. So only the thread that created a
// file (its writer) closes the descriptor for real; any other thread puts an
// open /dev/null over the number in one step (dup3): the file is closed at
// once, a late write goes nowhere, and the number stays taken until the
// process ends. (A write already inside the kernel at that moment holds the
// file itself and still completes; waiting for it would make the closing
// thread wait on the writer's disk, which the window's thread must not.)
//
// The exclusive flock stands in for a file opened without delete sharing:
// DeleteFileAt refuses a file that such a lock holds (file_operations.cc).
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "platform/files.h"
#include "platform/posix/unique_fd.h"
#include "platform/run_directory.h"

namespace updater {

namespace {

constexpr int kSlotBits = 6;
constexpr int kSlotCount = 1 << kSlotBits;
constexpr uint32_t kGenerationLimit = 1u << 24;  // keeps every handle positive

// Low half of a slot word: 0 free, kReserved while being filled, else fd + 1.
constexpr uint32_t kFree = 0;
constexpr uint32_t kReserved = 0xFFFFFFFFu;

struct Slot {
  std::atomic<uint64_t> word{0};  // generation << 32 | descriptor state
  std::atomic<pid_t> creator{0};  // written before the descriptor is published
};

Slot g_slots[kSlotCount];

uint64_t Word(uint32_t generation, uint32_t state) {
  return (static_cast<uint64_t>(generation) << 32) | state;
}
uint32_t GenerationOf(uint64_t word) { return static_cast<uint32_t>(word >> 32); }
uint32_t StateOf(uint64_t word) { return static_cast<uint32_t>(word); }
bool HoldsDescriptor(uint32_t state) { return state != kFree && state != kReserved; }

// The descriptor put over a file closed from another thread. It must exist
// before such a close can happen, so CreateFileForWriting opens it first.
// Without /dev/null, the read end of a pipe does as well: writes to it fail.
int SinkFd() {
  static const int sink = [] {
    int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (fd >= 0) return fd;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) return -1;
    close(ends[1]);
    return ends[0];
  }();
  return sink;
}

bool SplitHandle(FileHandle file, int* index, uint32_t* generation) {
  if (file < 0) return false;
  *index = file & (kSlotCount - 1);
  *generation = static_cast<uint32_t>(file) >> kSlotBits;
  return *generation != 0;
}

// Takes the descriptor out of the slot (when it still holds the file of
// `generation`) and closes it as described at the top.
void CloseSlot(int index, uint32_t generation) {
  Slot& slot = g_slots[index];
  uint64_t word = slot.word.load(std::memory_order_acquire);
  for (;;) {
    if (GenerationOf(word) != generation || !HoldsDescriptor(StateOf(word))) return;
    if (slot.word.compare_exchange_weak(word, Word(generation, kFree),
                                        std::memory_order_acq_rel)) {
      break;
    }
  }
  const int fd = static_cast<int>(StateOf(word) - 1);
  // The creator's own close cannot race its own write.
  if (slot.creator.load(std::memory_order_relaxed) == gettid()) {
    close(fd);
    return;
  }
  // On the off chance that dup3 fails, the file stays open (and locked)
  // rather than freeing a number a writer may still use; the process ends
  // soon after such a close anyway.
  const int sink = SinkFd();
  if (sink < 0) return;
  while (dup3(sink, fd, O_CLOEXEC) < 0 && (errno == EINTR || errno == EBUSY)) {
  }
}

FileHandle PublishInFreeSlot(int fd) {
  for (int index = 0; index < kSlotCount; ++index) {
    Slot& slot = g_slots[index];
    uint64_t word = slot.word.load(std::memory_order_acquire);
    if (StateOf(word) != kFree) continue;
    const uint32_t generation = GenerationOf(word) % (kGenerationLimit - 1) + 1;
    if (!slot.word.compare_exchange_strong(word, Word(generation, kReserved),
                                           std::memory_order_acq_rel)) {
      continue;
    }
    slot.creator.store(gettid(), std::memory_order_relaxed);
    slot.word.store(Word(generation, static_cast<uint32_t>(fd) + 1), std::memory_order_release);
    return static_cast<FileHandle>((generation << kSlotBits) | static_cast<uint32_t>(index));
  }
  return kNoFile;
}

}  // namespace

FileHandle CreateFileForWriting(std::string_view path) {
  if (SinkFd() < 0) return kNoFile;
  const std::string osPath = OsPath(path);
  // No O_TRUNC: a file held by another writer must fail untouched, so the
  // truncation waits until the lock is ours. O_NONBLOCK keeps a FIFO at the
  // path from blocking the open; such a file is refused below.
  UniqueFd fd(open(osPath.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY,
                   0644));
  if (!fd.Valid()) return kNoFile;
  struct stat info {};
  if (fstat(fd.Get(), &info) != 0 || !S_ISREG(info.st_mode)) return kNoFile;
  if (flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return kNoFile;
  // The size is looked at again under the lock: an earlier holder may have
  // written until it let go. A file that is empty is left alone, since
  // truncating it anyway makes ext4 flush the whole file at its close, as
  // when a file replaces an old one.
  if (fstat(fd.Get(), &info) != 0) return kNoFile;
  if (info.st_size != 0 && ftruncate(fd.Get(), 0) != 0) return kNoFile;
  const int flags = fcntl(fd.Get(), F_GETFL);
  if (flags >= 0) fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
  const FileHandle handle = PublishInFreeSlot(fd.Get());
  if (handle != kNoFile) fd.Release();
  return handle;
}

bool WriteToFile(FileHandle file, const char* data, int32_t size) {
  int index = 0;
  uint32_t generation = 0;
  if (!SplitHandle(file, &index, &generation) || size < 0 || (size > 0 && data == nullptr)) {
    return false;
  }
  const Slot& slot = g_slots[index];
  int32_t done = 0;
  do {
    // Re-read before every write: a close from another thread stops the loop.
    const uint64_t word = slot.word.load(std::memory_order_acquire);
    if (GenerationOf(word) != generation || !HoldsDescriptor(StateOf(word))) return false;
    const int fd = static_cast<int>(StateOf(word) - 1);
    const ssize_t written = write(fd, data + done, static_cast<size_t>(size - done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return size == 0 && written == 0;
    done += static_cast<int32_t>(written);
  } while (done < size);
  return true;
}

void CloseFile(FileHandle file) {
  int index = 0;
  uint32_t generation = 0;
  if (SplitHandle(file, &index, &generation)) CloseSlot(index, generation);
}

void CloseAllFiles() {
  for (int index = 0; index < kSlotCount; ++index) {
    const uint64_t word = g_slots[index].word.load(std::memory_order_acquire);
    if (HoldsDescriptor(StateOf(word))) CloseSlot(index, GenerationOf(word));
  }
}

}  // namespace updater
