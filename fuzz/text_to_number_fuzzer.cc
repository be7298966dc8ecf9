// TextToNumber on any text. It never fails, and:
// - the result is a finite double, an infinity or 0, never NaN;
// - what follows a zero byte is never read;
// - a minus sign in front of a number that starts with a digit negates it;
// - on texts made of number characters alone (digits, ".", "+", "-", the
//   exponent letters, blanks) it reads exactly what the C library's strtod
//   reads from the same text ("d" taken as "e"), correctly rounded.
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "text/text.h"

namespace {

using updater::TextToNumber;

bool SameDouble(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

bool OnlyNumberCharacters(std::string_view t) {
  return t.find_first_not_of("0123456789.+-eEdD \t\n\v\f\r") == std::string_view::npos;
}

double ReadWithStrtod(std::string_view t) {
  std::string copy(t);
  for (char& c : copy) {
    if (c == 'd' || c == 'D') c = 'e';
  }
  return std::strtod(copy.c_str(), nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const double value = TextToNumber(text);
  FUZZ_CHECK(!std::isnan(value));

  const std::string_view beforeZero = text.substr(0, text.find('\0'));
  FUZZ_CHECK(SameDouble(TextToNumber(std::string(beforeZero) + '\0' + "9"), TextToNumber(beforeZero)));

  if (!beforeZero.empty() && beforeZero[0] >= '0' && beforeZero[0] <= '9') {
    FUZZ_CHECK(SameDouble(TextToNumber("-" + std::string(beforeZero)), -value));
  }

  if (OnlyNumberCharacters(beforeZero)) {
    const double reference = ReadWithStrtod(beforeZero);
    if (!SameDouble(value, reference)) {
      std::fprintf(stderr, "TextToNumber %.17g, strtod %.17g\n", value, reference);
    }
    FUZZ_CHECK(SameDouble(value, reference));
  }
  return 0;
}
