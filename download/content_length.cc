#include "download/content_length.h"

namespace updater {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::optional<int32_t> ReadContentLength(std::string_view value) {
  while (!value.empty() && IsBlank(value.front())) value.remove_prefix(1);
  while (!value.empty() && IsBlank(value.back())) value.remove_suffix(1);
  if (value.empty()) return std::nullopt;
  // Unsigned arithmetic wraps modulo 2^32, so after every digit `low` holds
  // the low 32 bits of the number read so far, however long it grows.
  uint32_t low = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    low = low * 10u + static_cast<uint32_t>(c - '0');
  }
  // Conversion to a signed type is modular since C++20.
  return static_cast<int32_t>(low);
}

}  // namespace updater
