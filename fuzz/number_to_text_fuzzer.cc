// NumberToText on any double (the input's first 8 bytes) and any 32-bit
// integer (its next 4). The text is never empty and plain ASCII, and it
// reads back with TextToNumber:
// - a finite, non-zero double to within one part in 10^12 (13 significant
//   digits), with its sign;
// - zero as "0", infinities as "1.#INF" / "-1.#INF";
// - an integer exactly.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "text/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using updater::NumberToText;
  using updater::TextToNumber;

  if (size < sizeof(double)) return 0;
  double x = 0;
  std::memcpy(&x, data, sizeof x);
  const std::string text = NumberToText(x);
  FUZZ_CHECK(!text.empty());
  FUZZ_CHECK(text.size() <= 24);
  for (const char c : text) FUZZ_CHECK(c > ' ' && c < 0x7F);

  if (std::isnan(x)) {
    FUZZ_CHECK(text == "1.#QNAN" || text == "-1.#QNAN");
  } else if (std::isinf(x)) {
    FUZZ_CHECK(text == (x > 0 ? "1.#INF" : "-1.#INF"));
  } else if (x == 0) {
    FUZZ_CHECK(text == "0");
  } else {
    const double back = TextToNumber(text);
    // The difference is computed without overflow: both have the same sign.
    const double error = std::fabs(back - x);
    if (!(error <= 1e-12 * std::fabs(x))) {
      std::fprintf(stderr, "%.17g -> \"%s\" -> %.17g\n", x, text.c_str(), back);
    }
    FUZZ_CHECK(std::signbit(back) == std::signbit(x));
    FUZZ_CHECK(error <= 1e-12 * std::fabs(x));
  }

  if (size >= sizeof(double) + sizeof(int32_t)) {
    int32_t n = 0;
    std::memcpy(&n, data + sizeof(double), sizeof n);
    FUZZ_CHECK(TextToNumber(NumberToText(n)) == static_cast<double>(n));
  }
  return 0;
}
