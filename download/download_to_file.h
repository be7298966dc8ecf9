// DownloadToFile: one HTTP GET into a local file, in blocks of at most
// 10240 bytes, with a progress report after every block written.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "download/http_client.h"

namespace updater {

inline constexpr int32_t kDownloadBlockSize = 10240;

// The four fields of a progress report, in this order.
struct ProgressReport {
  int32_t totalBytes;     // Content-Length as a 32-bit number, 0 when none
  int32_t receivedBytes;  // bytes written so far, low 32 bits
  int32_t elapsedMs;      // since the transfer started; 10 when 0
  int32_t transferBytes;  // always equal to receivedBytes
};

using ProgressCallback =
    std::function<void(int32_t totalBytes, int32_t receivedBytes, int32_t elapsedMs,
                       int32_t transferBytes)>;

// What the routine reaches the outside world through. Tests put fakes here.
struct DownloadSeams {
  HttpClient* client = nullptr;
  uint32_t (*tickCount)() = nullptr;
  void (*showMessage)(std::string_view text, std::string_view title) = nullptr;
};

// The platform's client, TickCount and TheWindow().ShowMessageBox.
DownloadSeams DefaultDownloadSeams();
// Lets a build or a test choose the client that DefaultDownloadSeams gives.
void SetDefaultHttpClient(HttpClient* client);

// 0 when the whole body has been written and every handle closed; -1 after a
// failure, whose message box ("信息：") has been shown before the closes.
// Runs on the worker thread; calls onProgress synchronously on it. Keeps the
// open file in UpdaterState's download-file slot (kNoFile when it cannot be
// created). The file is created only once the final response has begun.
int32_t DownloadToFile(std::string_view url, std::string_view targetPath,
                       const ProgressCallback& onProgress);
int32_t DownloadToFile(const DownloadSeams& seams, std::string_view url,
                       std::string_view targetPath, const ProgressCallback& onProgress);

}  // namespace updater
