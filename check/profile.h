// The hand-off file's reader: the value of one key of one section of an INI
// file, read the way the platform's profile reader reads it with a
// 10240-byte buffer and no default.
#pragma once

#include <string>
#include <string_view>

namespace updater {

// The size of the reader's buffer: a value keeps at most kProfileBufferSize-1 bytes.
inline constexpr std::size_t kProfileBufferSize = 10240;

// Pure: parses `fileBytes` and returns the value (code page 936), or "" when
// the section or the key is missing. Depends on text/ and the standard
// library only, so checks and fuzzers can build it alone.
std::string ProfileValue(std::string_view fileBytes, std::string_view section,
                         std::string_view key);

// Reads the file at `path` (a program path) now, through the file layer, and
// returns ProfileValue of its bytes; "" when the file is missing.
std::string ReadProfileValue(std::string_view path, std::string_view section,
                             std::string_view key);

}  // namespace updater
