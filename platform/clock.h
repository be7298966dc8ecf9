#pragma once

#include <cstdint>

namespace updater {

// The system's millisecond counter: monotonic (never the wall clock), 32 bits,
// wrapping modulo 2^32. Any thread.
uint32_t TickCount();

}  // namespace updater
