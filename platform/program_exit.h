#pragma once

#include <cstdint>

namespace updater {

// Ends the process with `exitCode` at once, whatever other threads do; runs
// no static destructors and no atexit handlers.
[[noreturn]] void ExitProcessNow(int32_t exitCode);

}  // namespace updater
