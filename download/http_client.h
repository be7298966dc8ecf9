// The seam between the download routine and an HTTP client. Its three
// levels follow the routine's own: the client (connection state), a session
// (the root handle, with the agent text) and a request (the URL handle).
//
// All calls block and run on the worker thread. A request gives up once the
// calling thread has been force-ended (platform/threads.h).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

namespace updater {

class HttpRequest {
 public:
  virtual ~HttpRequest() = default;
  // The Content-Length of the final response as a 32-bit number (its low 32
  // bits), or none when there is none or it is not a number.
  virtual std::optional<int32_t> ContentLength() = 0;
  // Reads up to `size` bytes of the body. True with *count > 0 for data, true
  // with *count == 0 at the end of the body; false on an error (reset, a body
  // shorter than its Content-Length, no data within the stall limit).
  virtual bool Read(char* buffer, int32_t size, int32_t* count) = 0;
};

class HttpSession {
 public:
  virtual ~HttpSession() = default;
  // An HTTP GET of `url` as given, with `headers` (lines separated by
  // "\r\n") added to the request, no cache, redirects followed (at most 10,
  // http and https only). Returns once the final response has begun; none
  // when the URL cannot be fetched: a bad URL or scheme, a failed lookup or
  // connection, or a final status of 400 or above.
  virtual std::unique_ptr<HttpRequest> OpenUrl(std::string_view url,
                                               std::string_view headers) = 0;
};

class HttpClient {
 public:
  virtual ~HttpClient() = default;
  // The connection flags; bit 4 means "through a proxy".
  virtual uint32_t ConnectedStateFlags() = 0;
  // accessType 0: the system's proxy configuration with automatic
  // configuration; 4: the same without it. None on failure.
  virtual std::unique_ptr<HttpSession> Open(std::string_view agent, int32_t accessType) = 0;
};

// The platform's client (libcurl on Linux): made on first use, never
// destroyed. Any thread.
HttpClient& PlatformHttpClient();

}  // namespace updater
