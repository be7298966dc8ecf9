#include "platform/clock.h"

#include <time.h>

namespace updater {

uint32_t TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  // Milliseconds since an arbitrary start, cut to 32 bits like the
  // platform's counter; callers subtract modulo 2^32.
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                      static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

}  // namespace updater
