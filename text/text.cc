#include "text/text.h"

#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>
#include <type_traits>

// Every arithmetic step below is meant to be rounded to a double before the
// next one, as the labels' values depend on it. A 32-bit x86 build must use
// SSE2 arithmetic (not the x87 unit's wider registers) to keep that true.

namespace updater {
namespace {

// The text as far as its terminating zero byte; a missing text is "".
std::string_view UpToZero(std::string_view t) {
  if (t.data() == nullptr) return {};
  const std::size_t zero = t.find('\0');
  return zero == std::string_view::npos ? t : t.substr(0, zero);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Full-width forms of ASCII (the pairs 0xA3 0xA1..0xFE) and a few look-alikes
// become their one-byte forms, so a number typed with a Chinese input method
// still reads. Other two-byte characters stay as they are.
std::string NormaliseFullWidth(std::string_view t) {
  std::string out;
  out.reserve(t.size());
  for (std::size_t i = 0; i < t.size(); ++i) {
    const unsigned char first = static_cast<unsigned char>(t[i]);
    if (first < 0x80) {
      out += t[i];
      continue;
    }
    if (i + 1 >= t.size()) break;  // a lead byte without its second byte
    const unsigned char second = static_cast<unsigned char>(t[++i]);
    if (first == 0xA3 && second >= 0xA1 && second <= 0xFE) {
      out += static_cast<char>(second - 0x80);
    } else if (first == 0xA1 && second == 0xA1) {
      out += ' ';
    } else if (first == 0xA1 && second == 0xAB) {
      out += '~';
    } else if (first == 0xA1 && (second == 0xEE || second == 0xEF)) {
      out += '*';
    } else {
      out += static_cast<char>(first);
      out += static_cast<char>(second);
    }
  }
  return out;
}

// Enough significant digits to decide the rounding of any decimal to a
// double: the halfway points between doubles have at most 767 of them.
constexpr std::size_t kDecisiveDigits = 800;

// The nearest double to digits × 10^exponent, where `digits` is a non-empty
// run of decimal digits without leading or trailing zeros.
double NearestDouble(std::string_view digits, std::int64_t exponent) {
  // Power of ten of the leading digit; far outside the double range the
  // answer is known without parsing (and the exponent text stays short).
  const std::int64_t leading = exponent + static_cast<std::int64_t>(digits.size()) - 1;
  if (leading > 310) return std::numeric_limits<double>::infinity();
  if (leading < -330) return 0.0;

  std::string text;
  if (digits.size() > kDecisiveDigits) {
    // Cut the digits and stand a 1 in for the rest: the rest is not zero (no
    // trailing zeros), and no halfway point lies between the cut value and
    // the true one, so the nearest double is the same.
    text.assign(digits.substr(0, kDecisiveDigits));
    text += '1';
    exponent += static_cast<std::int64_t>(digits.size()) - static_cast<std::int64_t>(kDecisiveDigits) - 1;
  } else {
    text.assign(digits);
  }
  char exponentText[24];
  exponentText[0] = 'e';
  const auto written = std::to_chars(exponentText + 1, exponentText + sizeof exponentText, exponent);
  text.append(exponentText, written.ptr);

  // std::from_chars ignores the locale and rounds to nearest.
  double value = 0.0;
  const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value,
                                      std::chars_format::scientific);
  if (parsed.ec == std::errc::result_out_of_range) {
    return leading >= 0 ? std::numeric_limits<double>::infinity() : 0.0;
  }
  if (parsed.ec != std::errc()) return 0.0;
  return value;
}

// The longest number at the start of already normalised bytes.
double ParseNumber(std::string_view s) {
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  const std::size_t wholeBegin = i;
  while (i < s.size() && IsDigit(s[i])) ++i;
  const std::size_t wholeEnd = i;
  std::size_t fractionBegin = i, fractionEnd = i;
  if (i < s.size() && s[i] == '.') {
    fractionBegin = fractionEnd = ++i;
    while (fractionEnd < s.size() && IsDigit(s[fractionEnd])) ++fractionEnd;
    i = fractionEnd;
  }
  if (wholeEnd == wholeBegin && fractionEnd == fractionBegin) return 0.0;

  std::int64_t exponent = 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E' || s[i] == 'd' || s[i] == 'D')) {
    std::size_t j = i + 1;
    bool exponentNegative = false;
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) {
      exponentNegative = s[j] == '-';
      ++j;
    }
    // Saturate: beyond a billion the value is 0 or infinity either way.
    constexpr std::int64_t kExponentCap = 1000000000;
    for (; j < s.size() && IsDigit(s[j]); ++j) {
      if (exponent < kExponentCap) exponent = exponent * 10 + (s[j] - '0');
    }
    if (exponentNegative) exponent = -exponent;
  }

  // The significant digits: both runs joined, without leading and trailing
  // zeros; the value is digits × 10^exponent.
  std::string digits;
  digits.reserve(wholeEnd - wholeBegin + fractionEnd - fractionBegin);
  digits.append(s.substr(wholeBegin, wholeEnd - wholeBegin));
  digits.append(s.substr(fractionBegin, fractionEnd - fractionBegin));
  exponent -= static_cast<std::int64_t>(fractionEnd - fractionBegin);
  const std::size_t firstNonZero = digits.find_first_not_of('0');
  double magnitude = 0.0;
  if (firstNonZero != std::string::npos) {
    const std::size_t lastNonZero = digits.find_last_not_of('0');
    exponent += static_cast<std::int64_t>(digits.size() - 1 - lastNonZero);
    magnitude = NearestDouble(
        std::string_view(digits).substr(firstNonZero, lastNonZero + 1 - firstNonZero), exponent);
  }
  return negative ? -magnitude : magnitude;
}

// A non-negative whole number of up to 2600 bits, enough for the exact
// decimal expansion of any double.
class WholeNumber {
 public:
  explicit WholeNumber(std::uint64_t v) {
    limbs_[0] = static_cast<std::uint32_t>(v);
    limbs_[1] = static_cast<std::uint32_t>(v >> 32);
    size_ = limbs_[1] != 0 ? 2 : 1;
  }

  void MultiplyBy(std::uint32_t factor) {
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < size_; ++i) {
      const std::uint64_t product = static_cast<std::uint64_t>(limbs_[i]) * factor + carry;
      limbs_[i] = static_cast<std::uint32_t>(product);
      carry = product >> 32;
    }
    if (carry != 0) limbs_[size_++] = static_cast<std::uint32_t>(carry);
  }

  void MultiplyByPowerOfTwo(int power) {
    for (; power >= 31; power -= 31) MultiplyBy(1u << 31);
    if (power > 0) MultiplyBy(1u << power);
  }

  void MultiplyByPowerOfFive(int power) {
    constexpr std::uint32_t kFiveToThe13 = 1220703125;  // the largest that fits 32 bits
    for (; power >= 13; power -= 13) MultiplyBy(kFiveToThe13);
    std::uint32_t rest = 1;
    for (; power > 0; --power) rest *= 5;
    MultiplyBy(rest);
  }

  // All decimal digits, most significant first.
  std::string ToDecimal() const {
    std::array<std::uint32_t, kMaxLimbs> work = limbs_;
    std::size_t size = size_;
    std::array<std::uint32_t, kMaxLimbs * 10 / 9 + 2> chunks{};  // base 10^9, least first
    std::size_t chunkCount = 0;
    while (size > 1 || work[0] != 0) {
      std::uint64_t remainder = 0;
      for (std::size_t i = size; i-- > 0;) {
        const std::uint64_t current = (remainder << 32) | work[i];
        work[i] = static_cast<std::uint32_t>(current / 1000000000u);
        remainder = current % 1000000000u;
      }
      chunks[chunkCount++] = static_cast<std::uint32_t>(remainder);
      while (size > 1 && work[size - 1] == 0) --size;
    }
    if (chunkCount == 0) return "0";
    char buffer[16];
    std::string out;
    auto end = std::to_chars(buffer, buffer + sizeof buffer, chunks[chunkCount - 1]).ptr;
    out.append(buffer, end);
    for (std::size_t c = chunkCount - 1; c-- > 0;) {
      end = std::to_chars(buffer, buffer + sizeof buffer, chunks[c]).ptr;
      out.append(9 - static_cast<std::size_t>(end - buffer), '0');
      out.append(buffer, end);
    }
    return out;
  }

 private:
  static constexpr std::size_t kMaxLimbs = 84;
  std::array<std::uint32_t, kMaxLimbs> limbs_{};
  std::size_t size_ = 1;
};

// The exact decimal expansion of a finite, non-zero magnitude: its digits
// (no trailing zeros) and the power of ten of the first one.
struct DecimalExpansion {
  std::string digits;
  int exponent = 0;
};

DecimalExpansion ExactDecimal(double magnitude) {
  std::uint64_t bits = 0;
  static_assert(sizeof bits == sizeof magnitude);
  std::memcpy(&bits, &magnitude, sizeof bits);
  const int biased = static_cast<int>((bits >> 52) & 0x7FF);
  std::uint64_t mantissa = bits & ((std::uint64_t{1} << 52) - 1);
  int binaryExponent = 0;  // magnitude = mantissa × 2^binaryExponent
  if (biased == 0) {
    binaryExponent = -1074;
  } else {
    mantissa |= std::uint64_t{1} << 52;
    binaryExponent = biased - 1075;
  }
  WholeNumber whole(mantissa);
  int shift = 0;  // magnitude = whole × 10^-shift
  if (binaryExponent >= 0) {
    whole.MultiplyByPowerOfTwo(binaryExponent);
  } else {
    // m × 2^-n = m × 5^n × 10^-n
    whole.MultiplyByPowerOfFive(-binaryExponent);
    shift = -binaryExponent;
  }
  DecimalExpansion result;
  result.digits = whole.ToDecimal();
  result.exponent = static_cast<int>(result.digits.size()) - 1 - shift;
  const std::size_t last = result.digits.find_last_not_of('0');
  result.digits.resize(last + 1);
  return result;
}

// Rounds the digit string to `count` digits, half up on the next digit; a
// carry out of the first digit raises the exponent. Pads with zeros.
void RoundDigits(std::string& digits, int& exponent, std::size_t count) {
  const bool up = digits.size() > count && digits[count] >= '5';
  digits.resize(count, '0');
  if (!up) return;
  std::size_t i = count;
  while (i > 0 && digits[i - 1] == '9') digits[--i] = '0';
  if (i > 0) {
    ++digits[i - 1];
  } else {
    digits.insert(digits.begin(), '1');
    digits.resize(count);
    ++exponent;
  }
}

void DropTrailingZerosAndPoint(std::string& text) {
  if (text.find('.') == std::string::npos) return;
  const std::size_t last = text.find_last_not_of('0');
  text.resize(last + 1);
  if (text.back() == '.') text.pop_back();
}

// 10^power as the nearest double; power >= 0.
double PowerOfTen(std::int64_t power) {
  // Up to 10^22 every power is exact, and so is this product.
  if (power <= 22) {
    double p = 1.0;
    for (std::int64_t i = 0; i < power; ++i) p *= 10.0;
    return p;
  }
  if (power > 308) return std::numeric_limits<double>::infinity();
  return NearestDouble("1", power);
}

std::int64_t TruncateToInt64(double x) {
  // 2^63 and -2^63 are exact doubles; the range is [-2^63, 2^63).
  constexpr double kTwoTo63 = 9223372036854775808.0;
  const double whole = std::trunc(x);
  if (std::isnan(whole) || whole >= kTwoTo63 || whole < -kTwoTo63) {
    return std::numeric_limits<std::int64_t>::min();
  }
  return static_cast<std::int64_t>(whole);
}

}  // namespace

int32_t CompareText(std::string_view a, std::string_view b) {
  // The terminating zero is the smallest byte, so a text that ends first is
  // the smaller one; a missing text reads as "".
  a = UpToZero(a);
  b = UpToZero(b);
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int32_t TextLength(std::string_view t) {
  const std::size_t length = UpToZero(t).size();
  return length > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(length);
}

double TextToNumber(std::string_view t) {
  return ParseNumber(NormaliseFullWidth(UpToZero(t)));
}

std::string NumberToText(double x) {
  if (std::isnan(x)) return std::signbit(x) ? "-1.#QNAN" : "1.#QNAN";
  if (x == 0.0) return "0";
  if (std::isinf(x)) return x < 0 ? "-1.#INF" : "1.#INF";

  DecimalExpansion decimal = ExactDecimal(std::fabs(x));
  // Two roundings, as the labels have always shown them: to 17 significant
  // digits first, then that string to 13.
  RoundDigits(decimal.digits, decimal.exponent, 17);
  RoundDigits(decimal.digits, decimal.exponent, 13);
  const std::string& d = decimal.digits;
  const int e = decimal.exponent;

  std::string text = x < 0 ? "-" : "";
  if (e >= -4 && e <= 12) {
    if (e >= 0) {
      text.append(d, 0, static_cast<std::size_t>(e) + 1);
      text += '.';
      text.append(d, static_cast<std::size_t>(e) + 1, std::string::npos);
    } else {
      text += "0.";
      text.append(static_cast<std::size_t>(-e - 1), '0');
      text += d;
    }
    DropTrailingZerosAndPoint(text);
    return text;
  }
  text += d[0];
  text += '.';
  text.append(d, 1, std::string::npos);
  DropTrailingZerosAndPoint(text);
  text += e < 0 ? "e-" : "e+";
  const int magnitude = e < 0 ? -e : e;
  text += static_cast<char>('0' + magnitude / 100);
  text += static_cast<char>('0' + magnitude / 10 % 10);
  text += static_cast<char>('0' + magnitude % 10);
  return text;
}

std::string NumberToText(int32_t n) {
  char buffer[16];
  const auto end = std::to_chars(buffer, buffer + sizeof buffer, n).ptr;
  return std::string(buffer, end);
}

double RoundTo(double x, int32_t places) {
  if (x == 0.0) return x;
  const bool negative = std::signbit(x);
  const double m = std::fabs(x);
  double p = 1.0;
  double t = m;
  if (places > 0) {
    p = PowerOfTen(places);
    t = m * p;
  } else if (places < 0) {
    p = PowerOfTen(-static_cast<std::int64_t>(places));
    t = m / p;
  }
  // Scaled past the largest double: no digit of m lies at that scale, so m
  // is already whole there (and the steps below would give infinity or NaN).
  if (std::isinf(t) && std::isfinite(m)) return x;
  // A scale beyond the largest double leaves nothing but zero.
  if (std::isinf(p) && places < 0 && std::isfinite(m)) return negative ? -0.0 : 0.0;
  // The bias lets a value stored a hair below a half still round up.
  const double u = t + 1e-12;
  const double i = std::floor(u);
  const double f = u - i;
  const double k = f >= 0.5 ? i + 1.0 : i;
  double r = k;
  if (places > 0) {
    r = k / p;
  } else if (places < 0) {
    r = k * p;
  }
  return negative ? -r : r;
}

double WholeDivide(double a, double b) { return std::trunc(a / b); }

double Remainder(double a, double b) {
  // fmod is exact and takes the sign of a, as a - b * trunc(a / b) would
  // with the quotient known exactly.
  return std::fmod(a, b);
}

int32_t ToWholeNumber(double x) { return StoreAsInteger<int32_t>(x); }

template <class Int>
Int StoreAsInteger(double x) {
  static_assert(std::is_same_v<Int, int32_t> || std::is_same_v<Int, int64_t>,
                "a real value is stored in a 32-bit or a 64-bit integer");
  // The conversion to int32_t keeps the low 32 bits (modular since C++20).
  return static_cast<Int>(TruncateToInt64(x));
}

template int32_t StoreAsInteger<int32_t>(double x);
template int64_t StoreAsInteger<int64_t>(double x);

}  // namespace updater
