// The system's processes, as /proc shows them.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>
#include <vector>

namespace updater {

// Every process id, ascending. Empty when /proc cannot be read.
std::vector<pid_t> ProcessIdsAscending();

// The file name (no folder) of the process's executable: from its
// executable link, or from argv[0] when the link cannot be read (another
// user's process, or one that is going away). Empty when neither is there.
std::string ExecutableFileName(pid_t pid);

// Sends SIGKILL to the process, through a pidfd where the kernel has them
// so that a recycled id is never hit. With `stillNamed` non-empty the
// process's executable name must equal it (compared by `same`) at the moment
// the pidfd is held. True when the signal was sent.
bool KillProcess(pid_t pid, const std::string& stillNamed = std::string(),
                 bool (*same)(std::string_view, std::string_view) = nullptr);

}  // namespace updater
