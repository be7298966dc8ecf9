// Files, as the core sees them. Paths are the program's own texts: code page
// 936, built as the run directory followed by literals, with "\" or "/" as
// separators. The platform layer maps them to the OS (run_directory.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace updater {

// Removes a file. False when it did not (missing, no rights, or in use: a
// file open through CreateFileForWriting is not deleted, as the platform
// this program was made for refuses to delete a file open for writing).
bool DeleteFileAt(std::string_view path);

// Reads a whole file. False when it is missing or cannot be read.
bool ReadWholeFile(std::string_view path, std::string* bytes);

// True when both paths name the same existing file (the same inode).
bool IsSameFile(std::string_view a, std::string_view b);

// Puts `from` in place as `to` by one atomic rename that replaces an existing
// `to`, and gives the result mode 0755 (never writable by group or others).
// At every moment `to` is either its old file or the complete new one.
// False when the rename failed; `to` is then untouched.
bool InstallFileAs(std::string_view from, std::string_view to);

// An open file of the program. kNoFile is "none".
using FileHandle = int32_t;
inline constexpr FileHandle kNoFile = -1;

// Creates the file anew, or truncates an existing one to empty, for writing.
// A symbolic link at the path is never followed (the creation fails). The
// file is not inherited by child processes. kNoFile on failure.
FileHandle CreateFileForWriting(std::string_view path);

// Appends all `size` bytes. False on any failure (disk full, I/O error) and
// when the file has been closed.
bool WriteToFile(FileHandle file, const char* data, int32_t size);

// Closes the file; closing kNoFile or a closed file does nothing. May be
// called from another thread than the writer's (the thread that created the
// file): once it has returned, no write of the writer lands in the file any
// more, and the handle's number is never given to another file while a
// writer might still use it.
void CloseFile(FileHandle file);

// Closes every file still open through CreateFileForWriting.
void CloseAllFiles();

}  // namespace updater
