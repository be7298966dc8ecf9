#include "download/content_length.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace updater {
namespace {

struct LengthCase {
  std::string value;
  std::optional<int32_t> expected;
};

TEST(ContentLength, ReadsDecimalDigitsAsA32BitNumber) {
  const LengthCase cases[] = {
      {"0", 0},
      {"30000", 30000},
      {" 30000", 30000},
      {"\t30000 \t", 30000},
      {" 30000\r\n", 30000},        // the rest of a header line as it came
      {"000123", 123},
      {"2147483647", INT32_MAX},
      {"2147483648", INT32_MIN},    // low 32 bits, read as signed
      {"4294967295", -1},
      {"4294967296", 0},
      {"4294967297", 1},
      {"6442450944", INT32_MIN},    // 0x180000000
      {"100000000000000000000", 1661992960},  // 10^20 mod 2^32
      {std::string(1000, '9'), -1},            // 10^1000 - 1, low 32 bits all ones
  };
  for (const LengthCase& c : cases) {
    EXPECT_EQ(ReadContentLength(c.value), c.expected) << '"' << c.value << '"';
  }
}

TEST(ContentLength, AnythingButOneRunOfDigitsGivesNone) {
  const std::string none[] = {
      "", " ", "\r\n", "+5", "-5", "5 5", "5,5", "5, 5", "0x10", "1e3", "1.0", "12a", "a12",
      "\xA3\xB1",            // a full-width digit
      std::string("12\0" "3", 4),
      std::string("\0", 1),
      "\v5", "5\f",          // only space, tab, CR and LF count as blanks
  };
  for (const std::string& value : none) {
    EXPECT_EQ(ReadContentLength(value), std::nullopt) << '"' << value << '"';
  }
}

}  // namespace
}  // namespace updater
