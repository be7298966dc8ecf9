#include "download/download_to_file.h"

#include <atomic>
#include <memory>
#include <new>
#include <string>

#include "app/updater_state.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/threads.h"
#include "text/literals.h"
#include "text/text.h"
#include "ui/updater_window.h"

namespace updater {

namespace {

namespace lit = literals;

constexpr uint32_t kConnectionThroughProxy = 4;
constexpr int32_t kAccessPreconfig = 0;
constexpr int32_t kAccessPreconfigWithoutAutoProxy = 4;
// Reported instead of an elapsed time of 0, which would make a rate infinite.
constexpr int32_t kSameMillisecond = 10;

std::atomic<HttpClient*> g_defaultClient{nullptr};

void ShowInWindow(std::string_view text, std::string_view title) {
  TheWindow().ShowMessageBox(text, title);
}

// Every failure shows its message before anything is closed.
void ShowFailure(const DownloadSeams& seams, std::string_view message) {
  StopPoint();  // a force-ended worker shows nothing more
  seams.showMessage(message, lit::kMessageTitle);
}

}  // namespace

DownloadSeams DefaultDownloadSeams() {
  DownloadSeams seams;
  HttpClient* chosen = g_defaultClient.load();
  seams.client = chosen != nullptr ? chosen : &PlatformHttpClient();
  seams.tickCount = &TickCount;
  seams.showMessage = &ShowInWindow;
  return seams;
}

void SetDefaultHttpClient(HttpClient* client) { g_defaultClient.store(client); }

int32_t DownloadToFile(std::string_view url, std::string_view targetPath,
                       const ProgressCallback& onProgress) {
  return DownloadToFile(DefaultDownloadSeams(), url, targetPath, onProgress);
}

int32_t DownloadToFile(const DownloadSeams& seams, std::string_view url,
                       std::string_view targetPath, const ProgressCallback& onProgress) {
  const uint32_t flags = seams.client->ConnectedStateFlags();

  const auto tick = static_cast<int32_t>(seams.tickCount());
  const std::string agent = JoinText(lit::kAgentPrefix, NumberToText(tick));
  const int32_t accessType = (flags & kConnectionThroughProxy) != 0
                                 ? kAccessPreconfig
                                 : kAccessPreconfigWithoutAutoProxy;
  std::unique_ptr<HttpSession> session = seams.client->Open(agent, accessType);
  if (!session) {
    ShowFailure(seams, lit::kErrorConnection);
    return -1;
  }

  // One zero-filled buffer for every block of this call.
  const std::unique_ptr<char[]> buffer(new char[kDownloadBlockSize]());

  const std::string_view headers =
      lit::kRequestHeaders.substr(0, static_cast<size_t>(TextLength(lit::kRequestHeaders)));
  std::unique_ptr<HttpRequest> request = session->OpenUrl(url, headers);
  if (!request) {
    ShowFailure(seams, lit::kErrorOpenUrl);
    session.reset();
    return -1;
  }

  StopPoint();
  const FileHandle file = CreateFileForWriting(targetPath);
  // Stored at once, so that the window's close paths can close it.
  TheUpdaterState().downloadFile.store(file);
  if (file == kNoFile) {
    ShowFailure(seams, lit::kErrorOpenLocalFile);
    request.reset();
    session.reset();
    return -1;
  }

  // The closes always go file, request, session.
  auto closeAll = [&] {
    CloseFile(file);
    request.reset();
    session.reset();
  };
  auto failAndClose = [&](std::string_view message) {
    ShowFailure(seams, message);
    closeAll();
    return -1;
  };

  const int32_t total = request->ContentLength().value_or(0);
  int64_t received = 0;
  const uint32_t start = seams.tickCount();

  for (;;) {
    int32_t count = 0;
    if (!request->Read(buffer.get(), kDownloadBlockSize, &count)) {
      return failAndClose(lit::kErrorReadFile);
    }
    if (count <= 0) {
      closeAll();
      return 0;
    }
    StopPoint();
    // Whatever ends with 0 gets installed, so a failed write must not.
    if (!WriteToFile(file, buffer.get(), count)) return failAndClose(lit::kErrorWriteFile);
    received = StoreAsInteger<int64_t>(static_cast<double>(received) + count);

    const uint32_t now = seams.tickCount();
    int32_t elapsed =
        StoreAsInteger<int32_t>(static_cast<double>(now) - static_cast<double>(start));
    if (elapsed == 0) elapsed = kSameMillisecond;
    const auto receivedLow = static_cast<int32_t>(static_cast<uint32_t>(received));
    const auto transfer = StoreAsInteger<int32_t>(static_cast<double>(received));

    StopPoint();
    if (onProgress) onProgress(total, receivedLow, elapsed, transfer);
  }
}

}  // namespace updater
