// Text and number routines behind every label, path and request text.
//
// A text is a code page 936 (GBK) byte string. Lengths and comparisons count
// bytes. A missing text (a default-constructed std::string_view, data() ==
// nullptr) and the empty text are interchangeable: every routine reads a
// missing text as "". All routines are pure, keep no state and may be called
// from any thread.
//
// This header and its sources depend on the C and C++ standard libraries only,
// so that the same files build unchanged for every platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace updater {

// Concatenation of two or more texts, in order. Always a new text.
template <class... Texts>
std::string JoinText(const Texts&... texts) {
  static_assert(sizeof...(Texts) >= 2, "JoinText joins two or more texts");
  std::string_view views[] = {std::string_view(texts)...};
  std::size_t total = 0;
  for (std::string_view& v : views) {
    v = v.substr(0, v.find('\0'));  // a text ends at its first zero byte
    total += v.size();
  }
  std::string joined;
  joined.reserve(total);
  for (std::string_view v : views) joined.append(v.data() ? v.data() : "", v.size());
  return joined;
}

// -1, 0 or 1: bytes compared as unsigned values up to and including the first
// zero byte of either text. A missing text equals "" and is below any other.
int32_t CompareText(std::string_view a, std::string_view b);

// Number of bytes before the first zero byte; 0 for a missing text.
int32_t TextLength(std::string_view t);

// Full-width forms normalised, then a decimal number with an optional
// exponent (e, E, d or D) parsed from the start; 0 when nothing parses,
// an infinity when too large. Never fails.
double TextToNumber(std::string_view t);

// 13 significant digits, plain notation for exponents -4..12, else
// "d.ddde+XXX"; "1.#INF" / "-1.#INF" for infinities; never empty.
std::string NumberToText(double x);
std::string NumberToText(int32_t n);

// Half away from zero after a bias of 1e-12 on the scaled magnitude.
double RoundTo(double x, int32_t places = 0);

// a / b with the fraction cut toward zero (the sign of a zero quotient kept).
double WholeDivide(double a, double b);

// a - b * trunc(a / b), computed exactly; the sign of a.
double Remainder(double a, double b);

// Truncation toward zero to 64 bits (NaN, infinities and values out of range
// give -2^63), then the low 32 bits as a signed integer.
int32_t ToWholeNumber(double x);

// The same truncation, kept whole for int64_t and cut to the low 32 bits for
// int32_t.
template <class Int>
Int StoreAsInteger(double x);

extern template int32_t StoreAsInteger<int32_t>(double x);
extern template int64_t StoreAsInteger<int64_t>(double x);

}  // namespace updater
