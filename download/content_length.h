// Reading the value of a Content-Length header line.
//
// Pure and portable (the standard library only), so every HTTP client of
// the download routine reads the length the same way, and a fuzzer can
// build it alone. Any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace updater {

// The length announced by a Content-Length header whose value (the text
// after the colon) is `value`, as the 32-bit number the progress reports
// carry.
//
// - Blanks around the digits are skipped: space, tab, and the CR and LF
//   that end a header line, so the caller may pass the rest of the line as
//   it came.
// - Otherwise the value must be one run of decimal digits (leading zeros
//   allowed). No sign, no second number ("5, 5"), no other character:
//   anything else, and an empty value, gives none, as does a value
//   holding a zero byte.
// - A number beyond 32 bits keeps its low 32 bits, read as a signed number,
//   as a 32-bit variable that the digits are read into would hold it:
//   2147483648 gives -2147483648, 4294967296 gives 0, and no length is ever
//   refused for its size. Callers that want a length to check the body
//   against must not rely on this one: it is the announced length as the
//   reports show it, nothing more.
std::optional<int32_t> ReadContentLength(std::string_view value);

}  // namespace updater
