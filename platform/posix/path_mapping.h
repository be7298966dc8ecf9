// From a program path (code page 936 text) to the bytes the OS is given.
//
// A pure function with no state, so it can be tested and fuzzed on its own.
#pragma once

#include <string>
#include <string_view>

namespace updater {

// Maps `path` to an OS path. When `path` begins with `runDirText` followed by
// a separator or its end, that prefix becomes `runDirOs` (the run directory's
// own bytes, which may hold characters code page 936 lacks). The rest is
// converted to UTF-8 and every separator ("\" or "/") becomes "/". The text
// is walked in characters, so the second byte 0x5C of a two-byte character
// stays part of its character. A path ends at its first zero byte, as the
// OS would read it. Doubled separators are kept: the OS reads "//" as "/".
// Bad bytes become U+FFFD; never fails.
std::string MapPathToOs(std::string_view path, std::string_view runDirText,
                        std::string_view runDirOs);

}  // namespace updater
