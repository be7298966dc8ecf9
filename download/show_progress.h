#pragma once

#include <cstdint>

namespace updater {

// The progress callback of the download: turns one report into the captions
// of 标签4, 标签6..标签10 and 标签5 and the position of 进度条1. Worker's thread.
void ShowProgress(int32_t totalBytes, int32_t receivedBytes, int32_t elapsedMs,
                  int32_t transferBytes);

}  // namespace updater
