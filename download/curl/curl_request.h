// One HTTP GET on libcurl, read by its consumer block by block.
//
// The transfer runs on a multi handle of its own, driven only from inside
// Open and Read on the calling (worker) thread: no thread of ours runs
// beside it. Body bytes land in a staging buffer allocated once per request;
// while it has no room the transfer is paused, so the server is read no
// faster than the consumer writes. A Read hands out staged bytes without
// calling into libcurl, and drives the transfer only when nothing is staged.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "download/curl/curl_handles.h"
#include "download/http_client.h"

namespace updater::curl {

struct RequestSettings {
  std::string_view agent;
  long connectTimeoutMs;
  long stallTimeoutMs;  // no byte (header or body) for this long gives up
};

class CurlRequest final : public HttpRequest {
 public:
  // Sends the request and returns once the final response's body has begun
  // or the whole transfer has ended well. None when the URL cannot be
  // fetched (see HttpSession::OpenUrl), when the thread is force-ended, or
  // when no byte arrives within the stall limit.
  static std::unique_ptr<CurlRequest> Open(std::string_view url, std::string_view headers,
                                           const RequestSettings& settings);
  ~CurlRequest() override;
  CurlRequest(const CurlRequest&) = delete;
  CurlRequest& operator=(const CurlRequest&) = delete;

  std::optional<int32_t> ContentLength() override;
  bool Read(char* buffer, int32_t size, int32_t* count) override;

 private:
  enum class State { kRunning, kDone, kFailed };
  using Clock = std::chrono::steady_clock;

  CurlRequest() = default;
  bool Start(std::string_view url, std::string_view headers, const RequestSettings& settings);
  // Runs the transfer until bytes are staged, it has ended, or it gives up.
  void Pump();
  void CollectResult();
  size_t Staged() const { return stagingEnd_ - stagingBegin_; }
  bool MakeRoom(size_t size) noexcept;

  static size_t OnBody(char* data, size_t one, size_t count, void* self) noexcept;
  static size_t OnHeader(char* data, size_t one, size_t count, void* self) noexcept;
  // Keeps the final response's Content-Length as the reports carry it.
  // False when the response announces two different lengths.
  bool NoteHeaderLine(std::string_view line);
  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept;

  // Declared before the easy handle, which points at them until its cleanup.
  HeaderList headerList_;
  std::string agent_;
  MultiHandle multi_;
  EasyHandle easy_;
  bool attached_ = false;  // easy_ is in multi_

  std::unique_ptr<char[]> staging_;
  size_t stagingSize_ = 0;
  size_t stagingBegin_ = 0;
  size_t stagingEnd_ = 0;
  bool paused_ = false;

  State state_ = State::kRunning;
  Clock::duration stallLimit_{};
  Clock::time_point lastByte_{};
  // The first Content-Length of the latest response; a redirect's own
  // header block does not count for the final response.
  std::optional<int32_t> contentLength_;
  bool contentLengthSeen_ = false;
};

}  // namespace updater::curl
