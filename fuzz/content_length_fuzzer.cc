// ReadContentLength on any header value. Every value with a length is one
// run of digits between blanks, every such value has one, and the length is
// the number's low 32 bits (checked against 64-bit arithmetic where the
// number fits it). Blanks around a value never change what it reads as.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "download/content_length.h"
#include "fuzz/fuzz_check.h"

namespace {

std::string_view Trimmed(std::string_view v) {
  const std::string_view blanks = " \t\r\n";
  const size_t first = v.find_first_not_of(blanks);
  if (first == std::string_view::npos) return {};
  return v.substr(first, v.find_last_not_of(blanks) + 1 - first);
}

bool AllDigits(std::string_view v) {
  return !v.empty() && v.find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using updater::ReadContentLength;
  const std::string_view value(reinterpret_cast<const char*>(data), size);
  const std::optional<int32_t> length = ReadContentLength(value);
  const std::string_view digits = Trimmed(value);

  FUZZ_CHECK(length.has_value() == AllDigits(digits));
  FUZZ_CHECK(ReadContentLength(" \t" + std::string(value) + "\r\n") == length);
  if (length && digits.size() <= 19) {
    uint64_t whole = 0;
    const auto parsed = std::from_chars(digits.data(), digits.data() + digits.size(), whole);
    FUZZ_CHECK(parsed.ec == std::errc() && parsed.ptr == digits.data() + digits.size());
    FUZZ_CHECK(*length == static_cast<int32_t>(static_cast<uint32_t>(whole)));
  }
  return 0;
}
