// MapPathToOs on any path, with a run directory whose OS name is any bytes
// without a zero (as a folder name is) and whose text is that name in code
// page 936, as the run directory is set up. Properties:
// - a path that begins with the run directory's text, followed by a
//   separator or its end, comes out beginning with the OS name;
// - the output never holds a zero byte;
// - every "/" of the output comes from a separator of the path (walked in
//   characters from its start) or from the OS name: a second byte 0x5C of a
//   two-byte character never becomes "/".
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/posix/path_mapping.h"
#include "text/codepage.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsLead(unsigned char b) { return b >= 0x81 && b <= 0xFE; }
bool IsTrail(unsigned char b) { return b >= 0x40 && b <= 0xFE && b != 0x7F; }

// Separators of `path` from `from` on, stepping over two-byte characters
// from the start of the path.
size_t SeparatorsFrom(std::string_view path, size_t from) {
  size_t count = 0;
  for (size_t i = 0; i < path.size();) {
    const bool pair = IsLead(static_cast<unsigned char>(path[i])) && i + 1 < path.size() &&
                      IsTrail(static_cast<unsigned char>(path[i + 1]));
    if (!pair && i >= from && IsSeparator(path[i])) ++count;
    i += pair ? 2 : 1;
  }
  return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider input(data, size);
  const bool underRunDirectory = input.ConsumeBool();
  std::string runDirOs = input.ConsumeRandomLengthString(128);
  runDirOs.erase(std::remove(runDirOs.begin(), runDirOs.end(), '\0'), runDirOs.end());
  const std::string runDirText = updater::Utf8ToGbk(runDirOs);
  const std::string rest = input.ConsumeRemainingBytesAsString();
  const std::string path = underRunDirectory ? runDirText + rest : rest;

  const std::string os = updater::MapPathToOs(path, runDirText, runDirOs);
  FUZZ_CHECK(os.find('\0') == std::string::npos);

  const std::string_view read = std::string_view(path).substr(0, path.find('\0'));
  const bool prefixed = read.starts_with(runDirText) &&
                        (read.size() == runDirText.size() || IsSeparator(read[runDirText.size()]));
  if (prefixed) FUZZ_CHECK(std::string_view(os).starts_with(runDirOs));

  const size_t expectedSlashes =
      prefixed ? std::count(runDirOs.begin(), runDirOs.end(), '/') + SeparatorsFrom(read, runDirText.size())
               : SeparatorsFrom(read, 0);
  FUZZ_CHECK(static_cast<size_t>(std::count(os.begin(), os.end(), '/')) == expectedSlashes);
  return 0;
}
