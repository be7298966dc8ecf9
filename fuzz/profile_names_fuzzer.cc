// The profile reader with the section and the key taken from the input.
//
// Two checks per input:
// - arbitrary names and file bytes: nothing breaks, and the value read
//   lies within one line and fits the buffer;
// - a file written from well-formed code page 936 names and a value reads
//   that value back, with the names in any ASCII letter case; a name whose
//   second byte of a two-byte character differs in case is another name
//   (that byte is never folded, and a second byte "]" never closes a
//   section name).
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "check/profile.h"
#include "fuzz/fuzz_check.h"

namespace {

using updater::ProfileValue;

// One character: one byte, or a lead byte and a second byte.
using Characters = std::vector<std::string>;

std::string Join(const Characters& characters) {
  std::string joined;
  for (const std::string& c : characters) joined += c;
  return joined;
}

// Well-formed code page 936 characters from the input. Single bytes come from
// `ascii`; a two-byte character has any lead byte and any second byte,
// including "[", "\", "]" and ASCII letters.
Characters TakeCharacters(FuzzedDataProvider& input, std::string_view ascii, size_t maxCount) {
  Characters characters;
  const size_t count = input.ConsumeIntegralInRange<size_t>(0, maxCount);
  for (size_t i = 0; i < count && input.remaining_bytes() > 0; ++i) {
    const uint8_t b = input.ConsumeIntegral<uint8_t>();
    if (b < 0x80) {
      characters.emplace_back(1, ascii[b % ascii.size()]);
      continue;
    }
    const uint8_t lead = static_cast<uint8_t>(0x81 + b % 0x7E);
    uint8_t trail = static_cast<uint8_t>(0x40 + input.ConsumeIntegral<uint8_t>() % 0xBE);
    if (trail >= 0x7F) ++trail;  // 0x40..0x7E, 0x80..0xFE
    characters.push_back({static_cast<char>(lead), static_cast<char>(trail)});
  }
  return characters;
}

char SwapCase(char c) {
  if (c >= 'a' && c <= 'z') return static_cast<char>(c - 'a' + 'A');
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return c;
}

// The name with its one-byte letters' case swapped: the same name.
std::string SwapOneByteCase(const Characters& name) {
  std::string out;
  for (const std::string& c : name) out += c.size() == 1 ? std::string(1, SwapCase(c[0])) : c;
  return out;
}

// The name with its second bytes' case swapped: another name, if any changed.
std::string SwapSecondByteCase(const Characters& name) {
  std::string out;
  for (const std::string& c : name) out += c.size() == 2 ? std::string{c[0], SwapCase(c[1])} : c;
  return out;
}

void CheckValue(const std::string& value) {
  FUZZ_CHECK(value.size() <= updater::kProfileBufferSize - 1);
  FUZZ_CHECK(value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);

  if (input.ConsumeBool()) {
    const std::string section = input.ConsumeRandomLengthString(64);
    const std::string key = input.ConsumeRandomLengthString(64);
    const std::string file = input.ConsumeRemainingBytesAsString();
    CheckValue(ProfileValue(file, section, key));
    return 0;
  }

  // Names never start a comment or a section and never hold "=" or a
  // blank; the value holds no blank or quote at its ends.
  constexpr std::string_view kNameBytes =
      "abcxyzABCXYZ0123456789_.-\\/@#!$%^&*()+|~`<>?,:{}[]";
  constexpr std::string_view kValueBytes =
      "abcxyzABCXYZ0123456789_.-\\/@#!$%^&*()+|~`<>?,:{}[]=;";
  Characters section = TakeCharacters(input, kNameBytes, 16);
  Characters key = TakeCharacters(input, kNameBytes, 16);
  if (!key.empty() && key[0] == "[") key[0] = "x";
  const std::string valueUnit = Join(TakeCharacters(input, kValueBytes, 32));
  const size_t repeat = input.ConsumeIntegralInRange<size_t>(1, 700);
  std::string value;
  for (size_t i = 0; i < repeat; ++i) value += valueUnit;
  for (const std::string& c : section) {
    if (c == "]") return 0;  // a one-byte "]" closes the section name
  }

  // The comment line holds "配置" in code page 936, which is never valid
  // UTF-8, so the file is read as code page 936 whatever the rest holds.
  const std::string file = ";\xC5\xE4\xD6\xC3\r\n[" + Join(section) + "]\r\n" + Join(key) +
                           "=" + value + "\r\n";
  const std::string expected = value.substr(0, updater::kProfileBufferSize - 1);
  FUZZ_CHECK(ProfileValue(file, Join(section), Join(key)) == expected);
  FUZZ_CHECK(ProfileValue(file, SwapOneByteCase(section), SwapOneByteCase(key)) == expected);
  if (SwapSecondByteCase(section) != Join(section)) {
    FUZZ_CHECK(ProfileValue(file, SwapSecondByteCase(section), Join(key)).empty());
  }
  if (SwapSecondByteCase(key) != Join(key)) {
    FUZZ_CHECK(ProfileValue(file, Join(section), SwapSecondByteCase(key)).empty());
  }
  return 0;
}
