// UpdaterState: the one process-wide record that the program's parts share.
//
// The texts that the worker reads (target directory, download URL, latest
// version) are written on the window's thread before the worker starts and
// never changed afterwards, so they need no lock. The download-file slot is
// written by the worker and read by the close paths after they have
// force-ended it; it is atomic so that this hand-over is well defined.
#pragma once

#include <atomic>
#include <string>

#include "platform/files.h"
#include "platform/threads.h"

namespace updater {

struct UpdaterState {
  std::string targetDirectory;  // run directory + "\", set by the update click
  std::atomic<ThreadHandle> workerThread{kNoThread};  // stored once, never closed
  std::string downloadUrl;      // from the hand-off file
  std::atomic<FileHandle> downloadFile{kNoFile};  // never set back to none
  std::string latestVersion;    // from the hand-off file
};

// Lives for the whole process; created empty.
UpdaterState& TheUpdaterState();

// Releases the three texts, in the order target directory, download URL,
// latest version; leaves the worker handle and the file slot alone.
// Registered at start-up and run by EndProgram, once.
void ReleaseUpdaterState();

// How often ReleaseUpdaterState has run (for checks of "exactly once").
int ReleaseUpdaterStateRuns();

}  // namespace updater
