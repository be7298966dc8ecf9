// The text and number routines: the worked cases every label depends on,
// then properties over many generated values against independent references
// (the C library's strtod and printf's exact expansion of a double).
#include "text/text.h"

#include <gtest/gtest.h>
#include <regex.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace updater {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// A double written so that two texts are equal exactly when the doubles are
// (the sign of zero included).
std::string Show(double x) {
  if (x == 0) return std::signbit(x) ? "-0" : "0";
  char buffer[40];
  std::snprintf(buffer, sizeof buffer, "%.17g", x);
  return buffer;
}

std::string Show(int64_t n) { return std::to_string(n); }
std::string Show(int32_t n) { return std::to_string(n); }

// The percentage label as the progress display builds it.
std::string PercentLabel(double position) {
  const int32_t stored = StoreAsInteger<int32_t>(position);
  return JoinText("下载进度:", NumberToText(stored / 100.0), "%");
}

std::string TimeLabel(double seconds) {
  return JoinText("剩余时间:", NumberToText(WholeDivide(seconds, 3600)), "时",
                  NumberToText(Remainder(WholeDivide(seconds, 60), 60)), "分",
                  NumberToText(Remainder(seconds, 60)), "秒");
}

struct EdgeCase {
  const char* call;
  std::function<std::string()> got;
  std::string want;
};

TEST(Text, EdgeCases) {
  const std::string_view missing;
  volatile double zero = 0;  // keeps the compiler from folding x / 0
  const std::vector<EdgeCase> cases = {
      {"size 1536", [] { return NumberToText(RoundTo(1536.0 / 1024, 2)); }, "1.5"},
      {"size 123456", [] { return NumberToText(RoundTo(123456.0 / 1024, 2)); }, "120.56"},
      {"size 1048576", [] { return NumberToText(RoundTo(1048576.0 / 1024, 2)); }, "1024"},
      {"size 1000", [] { return NumberToText(RoundTo(1000.0 / 1024, 2)); }, "0.98"},
      {"size 5", [] { return NumberToText(RoundTo(5.0 / 1024, 2)); }, "0"},
      {"speed 153600 B in 1500 ms",
       [] { return NumberToText(RoundTo(153600.0 * 1000 / 1024 / 1500, 2)); }, "100"},
      {"speed 5 B in 1000 ms", [] { return Show(RoundTo(5.0 * 1000 / 1024 / 1000, 2)); }, "0"},
      {"local version 2.73", [] { return NumberToText(TextToNumber("2.73") - 0.01); }, "2.72"},
      {"local version 3", [] { return NumberToText(TextToNumber("3") - 0.01); }, "2.99"},
      {"local version 100.1", [] { return NumberToText(TextToNumber("100.1") - 0.01); }, "100.09"},
      {"local version empty", [] { return NumberToText(TextToNumber("") - 0.01); }, "-0.01"},
      {"local version 1.0.5", [] { return NumberToText(TextToNumber("1.0.5") - 0.01); }, "0.99"},
      {"local version full-width", [] { return NumberToText(TextToNumber("２.７３") - 0.01); }, "2.72"},
      {"local version 1e999", [] { return NumberToText(TextToNumber("1e999") - 0.01); }, "1.#INF"},
      {"1234.5", [] { return NumberToText(1234.5); }, "1234.5"},
      {"0.1 + 0.2", [] { return NumberToText(0.1 + 0.2); }, "0.3"},
      {"100.0", [] { return NumberToText(100.0); }, "100"},
      {"1/3", [] { return NumberToText(1.0 / 3); }, "0.3333333333333"},
      {"2/3", [] { return NumberToText(2.0 / 3); }, "0.6666666666667"},
      {"3.33 - 0.01", [] { return NumberToText(3.33 - 0.01); }, "3.32"},
      {"0.0001", [] { return NumberToText(0.0001); }, "0.0001"},
      {"1e13", [] { return NumberToText(1e13); }, "1e+013"},
      {"1234567890123", [] { return NumberToText(1234567890123.0); }, "1234567890123"},
      {"12345678901234", [] { return NumberToText(12345678901234.0); }, "1.234567890123e+013"},
      {"9999999999999.5", [] { return NumberToText(9999999999999.5); }, "1e+013"},
      {"0.00001", [] { return NumberToText(0.00001); }, "1e-005"},
      {"0.000123456", [] { return NumberToText(0.000123456); }, "0.000123456"},
      {"-2.5", [] { return NumberToText(-2.5); }, "-2.5"},
      {"minus zero", [] { return NumberToText(-0.0); }, "0"},
      {"-infinity", [] { return NumberToText(-kInf); }, "-1.#INF"},
      {"integer -5", [] { return NumberToText(int32_t{-5}); }, "-5"},
      {"integer 0", [] { return NumberToText(int32_t{0}); }, "0"},
      {"integer min", [] { return NumberToText(INT32_MIN); }, "-2147483648"},
      {"RoundTo 2.675", [] { return Show(RoundTo(2.675, 2)); }, Show(2.68)},
      {"RoundTo 1.005", [] { return Show(RoundTo(1.005, 2)); }, Show(1.01)},
      {"RoundTo 0.125", [] { return Show(RoundTo(0.125, 2)); }, Show(0.13)},
      {"RoundTo -0.125", [] { return Show(RoundTo(-0.125, 2)); }, Show(-0.13)},
      {"RoundTo 0.00499999999999", [] { return Show(RoundTo(0.00499999999999, 2)); }, Show(0.01)},
      {"RoundTo 0.0049999999999", [] { return Show(RoundTo(0.0049999999999, 2)); }, "0"},
      {"RoundTo 2.5, 0", [] { return Show(RoundTo(2.5)); }, "3"},
      {"RoundTo -2.5, 0", [] { return Show(RoundTo(-2.5, 0)); }, "-3"},
      {"RoundTo 1250, -2", [] { return Show(RoundTo(1250, -2)); }, "1300"},
      {"RoundTo -0 keeps it", [] { return Show(RoundTo(-0.0, 2)); }, "-0"},
      {"WholeDivide 3725, 3600", [] { return Show(WholeDivide(3725, 3600)); }, "1"},
      {"Remainder of minutes", [] { return Show(Remainder(WholeDivide(3725, 60), 60)); }, "2"},
      {"Remainder 3725, 60", [] { return Show(Remainder(3725, 60)); }, "5"},
      {"remaining 3725 s", [] { return TimeLabel(3725); }, "剩余时间:1时2分5秒"},
      {"WholeDivide -5, 3600", [] { return Show(WholeDivide(-5, 3600)); }, "-0"},
      {"Remainder of minutes of -5", [] { return Show(Remainder(WholeDivide(-5, 60), 60)); }, "-0"},
      {"Remainder -5, 60", [] { return Show(Remainder(-5, 60)); }, "-5"},
      {"remaining -5 s", [] { return TimeLabel(-5); }, "剩余时间:0时0分-5秒"},
      {"Remainder 7.5, 2", [] { return Show(Remainder(7.5, 2)); }, "1.5"},
      {"WholeDivide 999, 1000", [] { return Show(WholeDivide(999, 1000)); }, "0"},
      {"WholeDivide -125, 60", [] { return Show(WholeDivide(-125, 60)); }, "-2"},
      {"elapsed 1500 ms", [] { return JoinText("所用时间:", NumberToText(WholeDivide(1500, 1000)), "秒"); },
       "所用时间:1秒"},
      {"position 2/3", [] { return Show(StoreAsInteger<int32_t>(2.0 * 10000 / 3)); }, "6666"},
      {"percent 2/3", [] { return PercentLabel(2.0 * 10000 / 3); }, "下载进度:66.66%"},
      {"percent 7/1000", [] { return PercentLabel(7.0 * 10000 / 1000); }, "下载进度:0.7%"},
      {"percent with no total", [=] { return PercentLabel(5.0 * 10000 / zero); }, "下载进度:0%"},
      {"percent of nothing", [=] { return PercentLabel(0.0 * 10000 / zero); }, "下载进度:0%"},
      {"ToWholeNumber -2.9", [] { return Show(ToWholeNumber(-2.9)); }, "-2"},
      {"ToWholeNumber 2.9", [] { return Show(ToWholeNumber(2.9)); }, "2"},
      {"ToWholeNumber 0.99", [] { return Show(ToWholeNumber(0.99)); }, "0"},
      {"ToWholeNumber 3e9 wraps", [] { return Show(ToWholeNumber(3e9)); }, "-1294967296"},
      {"ToWholeNumber NaN", [] { return Show(ToWholeNumber(std::nan(""))); }, "0"},
      {"ToWholeNumber -infinity", [] { return Show(ToWholeNumber(-kInf)); }, "0"},
      {"64-bit 2^53 + 2", [] { return Show(StoreAsInteger<int64_t>(9007199254740994.0)); },
       "9007199254740994"},
      {"64-bit 2^63 is out of range", [] { return Show(StoreAsInteger<int64_t>(9223372036854775808.0)); },
       "-9223372036854775808"},
      {"64-bit -2^63 is in range", [] { return Show(StoreAsInteger<int64_t>(-9223372036854775808.0)); },
       "-9223372036854775808"},
      {"64-bit largest below 2^63", [] { return Show(StoreAsInteger<int64_t>(9223372036854774784.0)); },
       "9223372036854774784"},
      {"64-bit NaN", [] { return Show(StoreAsInteger<int64_t>(std::nan(""))); }, "-9223372036854775808"},
      {"64-bit -1e300", [] { return Show(StoreAsInteger<int64_t>(-1e300)); }, "-9223372036854775808"},
      {"TextToNumber '  +1.5e2xyz'", [] { return Show(TextToNumber("  +1.5e2xyz")); }, "150"},
      {"TextToNumber '1d2'", [] { return Show(TextToNumber("1d2")); }, "100"},
      {"TextToNumber '1D-2'", [] { return Show(TextToNumber("1D-2")); }, Show(0.01)},
      {"TextToNumber '1.5+3'", [] { return Show(TextToNumber("1.5+3")); }, "1.5"},
      {"TextToNumber '1,5'", [] { return Show(TextToNumber("1,5")); }, "1"},
      {"TextToNumber '1 000'", [] { return Show(TextToNumber("1 000")); }, "1"},
      {"TextToNumber '1e'", [] { return Show(TextToNumber("1e")); }, "1"},
      {"TextToNumber '2e+x'", [] { return Show(TextToNumber("2e+x")); }, "2"},
      {"TextToNumber 'x2.7'", [] { return Show(TextToNumber("x2.7")); }, "0"},
      {"TextToNumber '0x10'", [] { return Show(TextToNumber("0x10")); }, "0"},
      {"TextToNumber '-'", [] { return Show(TextToNumber("-")); }, "0"},
      {"TextToNumber '.'", [] { return Show(TextToNumber(".")); }, "0"},
      {"TextToNumber ''", [] { return Show(TextToNumber("")); }, "0"},
      {"TextToNumber missing", [=] { return Show(TextToNumber(missing)); }, "0"},
      {"TextToNumber 'inf'", [] { return Show(TextToNumber("inf")); }, "0"},
      {"TextToNumber 'nan'", [] { return Show(TextToNumber("nan")); }, "0"},
      {"TextToNumber '.5'", [] { return Show(TextToNumber(".5")); }, "0.5"},
      {"TextToNumber '5.'", [] { return Show(TextToNumber("5.")); }, "5"},
      {"TextToNumber '-0'", [] { return Show(TextToNumber("-0")); }, "-0"},
      {"TextToNumber '-1e999'", [] { return Show(TextToNumber("-1e999")); }, Show(-kInf)},
      {"TextToNumber '1e-999'", [] { return Show(TextToNumber("1e-999")); }, "0"},
      {"TextToNumber '\\t\\r\\n\\v\\f 7'", [] { return Show(TextToNumber("\t\r\n\v\f 7")); }, "7"},
      {"TextToNumber ideographic space, full-width", [] { return Show(TextToNumber("　１．５")); }, "1.5"},
      {"TextToNumber full-width sign and exponent", [] { return Show(TextToNumber("－２Ｅ＋２")); }, "-200"},
      {"TextToNumber stops at a zero byte", [] { return Show(TextToNumber(std::string_view("12\0" "3", 4))); },
       "12"},
      {"TextToNumber lone lead byte", [] { return Show(TextToNumber("12\xA3")); }, "12"},
      {"TextToNumber other pair ends it", [] { return Show(TextToNumber("1下2")); }, "1"},
      {"TextToNumber 0.01", [] { return Show(TextToNumber("0.01")); }, Show(0.01)},
      {"CompareText missing, ''", [=] { return Show(CompareText(missing, "")); }, "0"},
      {"CompareText '', missing", [=] { return Show(CompareText("", missing)); }, "0"},
      {"CompareText missing, 'a'", [=] { return Show(CompareText(missing, "a")); }, "-1"},
      {"CompareText 'a', missing", [=] { return Show(CompareText("a", missing)); }, "1"},
      {"CompareText bytes unsigned", [] { return Show(CompareText("\x80", "a")); }, "1"},
      {"CompareText shorter first", [] { return Show(CompareText("开始", "开始更新")); }, "-1"},
      {"CompareText equal", [] { return Show(CompareText("开始更新", "开始更新")); }, "0"},
      {"CompareText up to the zero", [] { return Show(CompareText(std::string_view("ab\0x", 4), "ab")); }, "0"},
      {"JoinText with a missing text", [=] { return JoinText("剩余时间:", missing, "时"); }, "剩余时间:时"},
      {"JoinText up to the zero", [] { return JoinText(std::string_view("a\0b", 3), std::string("c")); }, "ac"},
      {"TextLength '下载进度:'", [] { return Show(TextLength("下载进度:")); }, "9"},
      {"TextLength missing", [=] { return Show(TextLength(missing)); }, "0"},
      {"TextLength up to the zero", [] { return Show(TextLength(std::string_view("ab\0c", 4))); }, "2"},
  };
  for (const EdgeCase& c : cases) {
    EXPECT_EQ(c.got(), c.want) << c.call;
  }
}

// ---- TextToNumber against strtod -------------------------------------------

// The number pattern as a POSIX extended regular expression (leftmost
// longest, no recursion), so that the reference does not share the parser
// under test. "d" exponents are turned into "e" before strtod sees them.
double ReferenceParse(const std::string& normalised) {
  struct Pattern {
    regex_t compiled;
    Pattern() {
      const int failed = regcomp(
          &compiled, "^[ \t\n\v\f\r]*[+-]?([0-9]+\\.?[0-9]*|\\.[0-9]+)([eEdD][+-]?[0-9]+)?",
          REG_EXTENDED);
      EXPECT_EQ(failed, 0);
    }
    ~Pattern() { regfree(&compiled); }
  };
  static const Pattern pattern;
  regmatch_t match;
  if (regexec(&pattern.compiled, normalised.c_str(), 1, &match, 0) != 0) return 0.0;
  std::string number = normalised.substr(0, static_cast<std::size_t>(match.rm_eo));
  for (char& c : number) {
    if (c == 'd' || c == 'D') c = 'e';
  }
  return std::strtod(number.c_str(), nullptr);
}

// The full-width form of printable ASCII in code page 936.
std::string FullWidth(std::string_view ascii) {
  std::string out;
  for (char c : ascii) {
    if (c == ' ') {
      out += "\xA1\xA1";
    } else {
      out += '\xA3';
      out += static_cast<char>(static_cast<unsigned char>(c) + 0x80);
    }
  }
  return out;
}

std::string RandomDigits(std::mt19937_64& random, std::size_t count) {
  std::string digits;
  for (std::size_t i = 0; i < count; ++i) digits += static_cast<char>('0' + random() % 10);
  return digits;
}

std::string RandomNumberText(std::mt19937_64& random) {
  std::string text;
  text.append(random() % 3, ' ');
  const char* signs[] = {"", "", "+", "-"};
  text += signs[random() % 4];
  std::size_t whole = random() % 22;
  std::size_t fraction = random() % 22;
  if (whole == 0 && fraction == 0) whole = 1;
  text += RandomDigits(random, whole);
  if (fraction != 0 || random() % 4 == 0) text += '.';
  text += RandomDigits(random, fraction);
  if (random() % 2 == 0) {
    const char* markers = "eEdD";
    text += markers[random() % 4];
    text += signs[random() % 4];
    // Mostly ordinary exponents, some far enough out to overflow or underflow.
    const int exponent = random() % 4 == 0 ? static_cast<int>(random() % 700) : static_cast<int>(random() % 30);
    text += std::to_string(exponent);
  }
  const char* tails[] = {"", "x", ",5", " 1", "e", "e+", "E-x", "+3", ".5", "%", "KB"};
  text += tails[random() % std::size(tails)];
  return text;
}

TEST(Text, TextToNumberAgreesWithStrtod) {
  std::mt19937_64 random(20240613);
  for (int i = 0; i < 20000; ++i) {
    const std::string text = RandomNumberText(random);
    const double want = ReferenceParse(text);
    ASSERT_EQ(Show(TextToNumber(text)), Show(want)) << "'" << text << "'";
    ASSERT_EQ(Show(TextToNumber(FullWidth(text))), Show(want)) << "full-width '" << text << "'";
  }
}

TEST(Text, TextToNumberOfLongDigitRuns) {
  const std::string zeros(100000, '0');
  EXPECT_EQ(TextToNumber("1" + zeros), kInf);
  EXPECT_EQ(TextToNumber("-1" + zeros), -kInf);
  EXPECT_EQ(Show(TextToNumber("0." + zeros + "1")), "0");
  EXPECT_EQ(TextToNumber(zeros + "1.5" + zeros), 1.5);
  // 2^53 + 1 is halfway between two doubles: the tie goes to even, but any
  // non-zero digit far out in the tail decides it upward.
  EXPECT_EQ(TextToNumber("9007199254740993"), 9007199254740992.0);
  EXPECT_EQ(TextToNumber("9007199254740993." + zeros), 9007199254740992.0);
  EXPECT_EQ(TextToNumber("9007199254740993." + zeros + "1"), 9007199254740994.0);
  EXPECT_EQ(TextToNumber("9007199254740992999" + zeros + "e-" + std::to_string(zeros.size() + 3)),
            9007199254740992.0);

  // Plain numbers: strtod reads them as they stand.
  std::mt19937_64 random(7);
  for (int i = 0; i < 5; ++i) {
    const std::string digits = RandomDigits(random, 100000);
    EXPECT_EQ(Show(TextToNumber("0." + digits)), Show(std::strtod(("0." + digits).c_str(), nullptr)));
    EXPECT_EQ(Show(TextToNumber(digits + "e-99990")),
              Show(std::strtod((digits + "e-99990").c_str(), nullptr)));
    EXPECT_EQ(Show(TextToNumber(digits + "d-100300")),
              Show(std::strtod((digits + "e-100300").c_str(), nullptr)));
  }
}

// Normalisation as the rules state it, written separately from the routine.
std::string ReferenceNormalise(std::string_view t) {
  t = t.substr(0, t.find('\0'));
  std::string out;
  for (std::size_t i = 0; i < t.size(); ++i) {
    const auto a = static_cast<unsigned char>(t[i]);
    if (a < 0x80) {
      out += t[i];
      continue;
    }
    if (i + 1 == t.size()) break;
    const auto b = static_cast<unsigned char>(t[++i]);
    if (a == 0xA3 && b >= 0xA1 && b <= 0xFE) out += static_cast<char>(b - 0x80);
    else if (a == 0xA1 && b == 0xA1) out += ' ';
    else if (a == 0xA1 && b == 0xAB) out += '~';
    else if (a == 0xA1 && (b == 0xEE || b == 0xEF)) out += '*';
    else out += {static_cast<char>(a), static_cast<char>(b)};
  }
  return out;
}

TEST(Text, TextToNumberOfGarbage) {
  // Bytes drawn mostly from what a number is made of, full-width pairs and
  // stray lead bytes, so that the parse gets far before it stops.
  const std::vector<std::string> pieces = {
      "0", "1", "5", "9", ".", "+", "-", "e", "E", "d", "D", " ", "\t", "x", ",", std::string(1, '\0'),
      "\xA3\xB0", "\xA3\xB7", "\xA3\xAE", "\xA3\xAB", "\xA3\xAD", "\xA3\xC5", "\xA1\xA1", "\xA1\xAB",
      "\xA3", "\xA1", "\x81", "\xFF", "\x80", "\xA3\x30", "下"};
  std::mt19937_64 random(99);
  for (int i = 0; i < 20000; ++i) {
    std::string text;
    const std::size_t count = random() % 12;
    for (std::size_t j = 0; j < count; ++j) text += pieces[random() % pieces.size()];
    ASSERT_EQ(Show(TextToNumber(text)), Show(ReferenceParse(ReferenceNormalise(text))))
        << testing::PrintToString(text);
  }
  for (int i = 0; i < 2000; ++i) {
    std::string text(random() % 64, '\0');
    for (char& c : text) c = static_cast<char>(random());
    ASSERT_EQ(Show(TextToNumber(text)), Show(ReferenceParse(ReferenceNormalise(text))))
        << testing::PrintToString(text);
  }
}

// ---- NumberToText against printf's exact expansion ------------------------

// The significant digits and decimal exponent of a finite non-zero double,
// exactly: glibc prints every digit of the binary value when asked for
// enough of them (767 significant digits at most).
void ExactDigits(double x, std::string& digits, int& exponent) {
  char buffer[1000];
  std::snprintf(buffer, sizeof buffer, "%.800e", std::fabs(x));
  const char* e = std::strchr(buffer, 'e');
  exponent = std::atoi(e + 1);
  digits.assign(1, buffer[0]);
  digits.append(buffer + 2, static_cast<std::size_t>(e - (buffer + 2)));
}

// Half-up rounding of a digit string to `count` digits (string arithmetic).
void RoundHalfUp(std::string& digits, int& exponent, std::size_t count) {
  const bool up = digits.size() > count && digits[count] >= '5';
  digits.resize(count, '0');
  for (std::size_t i = count; up && i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return;
    }
    digits[i] = '0';
  }
  if (up) {
    digits = "1" + digits.substr(0, count - 1);
    ++exponent;
  }
}

// What the label must read for x, built from the exact expansion: rounded
// to 17 digits and then to 13, or (to show the difference) once to 13.
std::string ReferenceText(double x, bool roundTwice = true) {
  std::string digits;
  int exponent = 0;
  ExactDigits(x, digits, exponent);
  if (roundTwice) RoundHalfUp(digits, exponent, 17);
  RoundHalfUp(digits, exponent, 13);
  const std::string sign = x < 0 ? "-" : "";
  digits.erase(digits.find_last_not_of('0') + 1);
  if (exponent >= 0 && exponent <= 12) {
    std::string whole = digits.substr(0, std::min<std::size_t>(digits.size(), exponent + 1));
    whole.resize(exponent + 1, '0');
    const std::string fraction = digits.size() > whole.size() ? digits.substr(exponent + 1) : "";
    return sign + whole + (fraction.empty() ? "" : "." + fraction);
  }
  if (exponent < 0 && exponent >= -4) return sign + "0." + std::string(-exponent - 1, '0') + digits;
  char tail[16];
  std::snprintf(tail, sizeof tail, "e%c%03d", exponent < 0 ? '-' : '+', std::abs(exponent));
  return sign + digits.substr(0, 1) + (digits.size() > 1 ? "." + digits.substr(1) : "") + tail;
}

double RandomFiniteDouble(std::mt19937_64& random) {
  for (;;) {
    const std::uint64_t bits = random();
    double x;
    std::memcpy(&x, &bits, sizeof x);
    if (std::isfinite(x) && x != 0) return x;
  }
}

TEST(Text, NumberToTextAgreesWithTheExactExpansion) {
  std::mt19937_64 random(1302);
  std::vector<double> values = {
      1e-5,  9.9999999999994e-5, 9.9999999999995e-5, 0.0001, 0.00010000000000005, 1e12,
      999999999999.94, 999999999999.95, 9999999999999.0, 9999999999999.4, 9999999999999.5,
      1e13, 0.49999999999999994, 5e-324, std::numeric_limits<double>::max(),
      std::numeric_limits<double>::min(), 4503599627370495.5, 12345678901234.5625};
  for (int i = 0; i < 30000; ++i) values.push_back(RandomFiniteDouble(random));
  // Dense around the points where the notation changes.
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  for (int i = 0; i < 30000; ++i) {
    const int exponent = -7 + static_cast<int>(random() % 23);
    values.push_back((random() % 2 ? 1 : -1) * mantissa(random) * std::pow(10.0, exponent));
  }
  for (double x : values) {
    const std::string text = NumberToText(x);
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text, ReferenceText(x)) << Show(x);
  }
}

TEST(Text, NumberToTextSwitchesNotationAtTheRightExponents) {
  const struct {
    double x;
    const char* want;
  } cases[] = {
      {0.000099999999999994, "9.999999999999e-005"},
      {0.000099999999999995, "0.0001"},  // rounds up into plain notation
      {0.0001, "0.0001"},
      {0.00012, "0.00012"},
      {999999999999.9, "999999999999.9"},
      {999999999999.95, "999999999999.9"},  // held as 999999999999.94995...
      {999999999999.96, "1000000000000"},
      {9999999999999.4, "9999999999999"},
      {9999999999999.5, "1e+013"},
      {1.5e13, "1.5e+013"},
      {1.5e100, "1.5e+100"},
      {-1.5e-100, "-1.5e-100"},
      {5e-324, "4.940656458412e-324"},
      {1.7976931348623157e308, "1.797693134862e+308"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NumberToText(c.x), c.want) << Show(c.x);
  }
}

// Where the 17-digit step carries into the 14th digit, the two roundings give
// a different answer than one rounding of the exact value would: digits 14 to
// 17 are 4999 and the 18th is 5 or more, so the result rounds up.
TEST(Text, NumberToTextRoundsTwice) {
  std::mt19937_64 random(4999);
  int found = 0;
  for (int attempt = 0; attempt < 2000 && found < 20; ++attempt) {
    const std::string head = "1." + RandomDigits(random, 12);
    const double target = std::strtod((head + "49997").c_str(), nullptr);
    for (double x = std::nextafter(target, 0.0), end = std::nextafter(std::nextafter(target, 9.0), 9.0);
         x <= end; x = std::nextafter(x, 9.0)) {
      std::string digits;
      int exponent = 0;
      ExactDigits(x, digits, exponent);
      if (digits.compare(13, 4, "4999") != 0 || digits[17] < '5') continue;
      ++found;
      const std::string text = NumberToText(x);
      EXPECT_EQ(text, ReferenceText(x)) << Show(x);
      EXPECT_NE(text, ReferenceText(x, false)) << Show(x);
    }
  }
  EXPECT_GE(found, 5);
}

// ---- RoundTo against its steps ------------------------------------------------

double RoundToStepByStep(double x) {
  if (x == 0) return x;
  const bool negative = x < 0;
  volatile double m = std::fabs(x);
  volatile double t = m * 100.0;
  if (std::isinf(t)) return x;  // scaled past the double range: already whole
  volatile double u = t + 1e-12;
  volatile double i = std::trunc(u);
  volatile double f = u - i;
  volatile double k = f >= 0.5 ? i + 1 : i;
  volatile double r = k / 100.0;
  return negative ? -r : r;
}

TEST(Text, RoundToTwoPlacesFollowsItsSteps) {
  std::mt19937_64 random(2);
  std::vector<double> values;
  for (int i = 0; i < 20000; ++i) {
    // Sizes and speeds as the labels see them, and halves stored a hair off.
    values.push_back(static_cast<double>(random() % 100000000) / 1024);
    values.push_back((static_cast<double>(random() % 1000000) + 0.5) / 100 * (random() % 2 ? 1 : -1));
    values.push_back(RandomFiniteDouble(random));
  }
  for (double x : values) {
    ASSERT_EQ(Show(RoundTo(x, 2)), Show(RoundToStepByStep(x))) << Show(x);
  }
  EXPECT_EQ(RoundTo(kInf, 2), kInf);
  EXPECT_EQ(RoundTo(-kInf, 2), -kInf);
  EXPECT_TRUE(std::isnan(RoundTo(std::nan(""), 2)));
}

TEST(Text, NonFiniteValuesNeverBreakTheRoutines) {
  EXPECT_FALSE(NumberToText(std::nan("")).empty());
  EXPECT_FALSE(NumberToText(-std::nan("")).empty());
  EXPECT_EQ(NumberToText(kInf), "1.#INF");
  // Scales beyond the double range: the value is already whole there, or
  // rounds to nothing.
  EXPECT_EQ(RoundTo(1e307, 2), 1e307);
  EXPECT_EQ(RoundTo(-1e307, 2), -1e307);
  EXPECT_EQ(RoundTo(1.5, 400), 1.5);
  EXPECT_EQ(RoundTo(1234.5, INT32_MAX), 1234.5);
  EXPECT_EQ(Show(RoundTo(1234.5, INT32_MIN)), "0");
  EXPECT_EQ(Show(RoundTo(-1234.5, -400)), "-0");
  EXPECT_EQ(RoundTo(1234.5, -3), 1000);
  EXPECT_EQ(RoundTo(1250.0, -300), 0);
}

}  // namespace
}  // namespace updater
