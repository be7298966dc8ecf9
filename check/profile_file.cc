#include "check/profile.h"

#include "platform/files.h"

namespace updater {

// Read afresh on every call: the product may rewrite the hand-off file while
// the updater starts, and each key must come from the file as it is when its
// step comes.
std::string ReadProfileValue(std::string_view path, std::string_view section,
                             std::string_view key) {
  std::string bytes;
  if (!ReadWholeFile(path, &bytes)) return std::string();
  return ProfileValue(bytes, section, key);
}

}  // namespace updater
