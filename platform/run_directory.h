// The run directory: the folder of the updater's own executable.
//
// Inside the program it is a text (code page 936) like every other, and every
// path is that text followed by a literal. The folder's OS name may hold
// characters that code page 936 lacks, so the text is only a stand-in: the
// platform layer maps a path that begins with it back to the folder's own
// OS bytes.
#pragma once

#include <string>
#include <string_view>

namespace updater {

// Finds the folder of the running executable (its real path), makes it the
// current directory and remembers it. Window's thread, once, at start-up.
// False when the folder cannot be found or entered.
bool TakeRunDirectoryFromExecutable();

// For tests and tools: takes `osDirectory` (OS bytes, no trailing "/") as the
// run directory without changing the current directory.
void SetRunDirectory(std::string_view osDirectory);

// The run directory's text, without a trailing separator.
const std::string& RunDirectory();

// The OS path of a program path (see design notes in the implementation).
std::string OsPath(std::string_view path);

}  // namespace updater
