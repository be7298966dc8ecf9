// The hand-off file as the product leaves it: the whole input is the file,
// read for the real section and keys. Seeds: tests/data/profile-cases.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "check/profile.h"
#include "fuzz/fuzz_check.h"
#include "text/codepage.h"

namespace {

// The names in code page 936, converted once (text/literals.cc needs a
// compiler option clang lacks, so the fuzzers spell the names here).
struct Names {
  std::string section = updater::Utf8ToGbk(reinterpret_cast<const char*>(u8"配置"));
  std::string keys[4] = {
      updater::Utf8ToGbk(reinterpret_cast<const char*>(u8"文件名")),
      updater::Utf8ToGbk(reinterpret_cast<const char*>(u8"更新")),
      updater::Utf8ToGbk(reinterpret_cast<const char*>(u8"版本")),
      updater::Utf8ToGbk(reinterpret_cast<const char*>(u8"下载地")),
  };
};

// What any value read from any file satisfies: it lies within one line and
// ends at a zero byte, and it fits the reader's buffer.
void CheckValue(const std::string& value) {
  FUZZ_CHECK(value.size() <= updater::kProfileBufferSize - 1);
  FUZZ_CHECK(value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Names names;
  const std::string_view file(reinterpret_cast<const char*>(data), size);
  for (const std::string& key : names.keys) {
    CheckValue(updater::ProfileValue(file, names.section, key));
  }
  return 0;
}
