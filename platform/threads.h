// The worker thread: started once, never joined, and force-ended by the
// window's close paths.
//
// Force-ending does not kill the thread (a thread killed while it holds the
// allocator's or the HTTP client's lock would hang the ending of the
// program). It marks the thread as ended: from then on the thread makes no
// further change anywhere. It parks at its next stop point, and its network
// reads give up. The caller never waits for it; the program's ending follows
// at once and takes the thread with the process.
#pragma once

#include <cstdint>

namespace updater {

using ThreadHandle = int32_t;
inline constexpr ThreadHandle kNoThread = -1;

// Starts `entry` on a new thread at once. kNoThread when it cannot start.
ThreadHandle StartThread(void (*entry)());

// Marks the thread ended; kNoThread and a finished thread are harmless. Any thread.
void ForceEndThread(ThreadHandle thread);

// True on a thread that has been force-ended. Cheap: one atomic load.
bool StopRequested();

// On a force-ended thread: never returns (the thread parks until the
// process ends). Elsewhere: returns at once. The worker calls it before each
// change it makes (a file write, a message box, ending a process, a rename).
void StopPoint();

}  // namespace updater
