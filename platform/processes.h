// Processes: ending the product by name, and starting the new product.
#pragma once

#include <cstdint>
#include <string_view>

namespace updater {

// Ends one process named `name` (code page 936): the owner of a top-level
// window titled `name`, else the first process, in ascending id order, whose
// executable's file name is `name`; both compared without regard to ASCII
// letter case. Only processes this user may signal are candidates. The
// process is killed outright and nothing waits for it to be gone. An empty
// name, or no match, does nothing. False when nothing was ended.
bool EndProcessByName(std::string_view name);

// Starts the executable at `path` with no arguments, the updater's own
// environment and current directory, in a session of its own so that it
// outlives the updater. Waits at most `waitMs` for it to have started.
// False when it could not be started.
bool StartProduct(std::string_view path, uint32_t waitMs);

}  // namespace updater
