// Bytes as hexadecimal text and back, for tests that compare or carry code
// page 936 bytes where a readable failure message matters.
#pragma once

#include <string>
#include <string_view>

namespace updater::testing {

inline std::string ToHex(std::string_view bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char b : bytes) {
    hex += digits[b >> 4];
    hex += digits[b & 0xF];
  }
  return hex;
}

inline std::string FromHex(std::string_view hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}

}  // namespace updater::testing
