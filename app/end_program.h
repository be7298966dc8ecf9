// Ending the program: the one way out of every normal path.
#pragma once

#include <cstdint>

namespace updater {

// Registers the routine that EndProgram runs (start-up registers
// ReleaseUpdaterState). Window's thread, before the window loads.
void RegisterAtEnd(void (*routine)());

// Ends the updater, on the window's thread, and never returns. In order: no
// window event reaches a handler any more; the registered routine runs
// (exactly once, even if EndProgram were entered twice); every file still
// open is closed; the window and the web view are released; the process
// ends with `exitCode` whatever the worker is doing.
[[noreturn]] void EndProgram(int32_t exitCode);

}  // namespace updater
