#include "app/updater_state.h"

namespace updater {

namespace {
std::atomic<int> g_releaseRuns{0};

void Release(std::string& text) {
  std::string().swap(text);  // gives the storage back, not only the length
}
}  // namespace

UpdaterState& TheUpdaterState() {
  // Never destroyed: the process ends with _exit, and a worker may still
  // read the state while it does.
  static UpdaterState* const state = new UpdaterState();
  return *state;
}

void ReleaseUpdaterState() {
  UpdaterState& state = TheUpdaterState();
  Release(state.targetDirectory);
  Release(state.downloadUrl);
  Release(state.latestVersion);
  g_releaseRuns.fetch_add(1);
}

int ReleaseUpdaterStateRuns() { return g_releaseRuns.load(); }

}  // namespace updater
