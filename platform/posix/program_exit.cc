#include "platform/program_exit.h"

#include <unistd.h>

#include <cstdio>

namespace updater {

void ExitProcessNow(int32_t exitCode) {
  // Our own output first; then no destructor or atexit handler may run
  // under a worker that is still alive.
  std::fflush(nullptr);
  _exit(exitCode);
}

}  // namespace updater
