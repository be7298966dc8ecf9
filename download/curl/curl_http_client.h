// The HTTP client on libcurl. Linux only; the core sees it as HttpClient.
#pragma once

#include "download/http_client.h"

namespace updater {

class CurlHttpClient : public HttpClient {
 public:
  struct Options {
    long connectTimeoutMs = 60000;  // connecting gives up after this
    long stallTimeoutMs = 60000;    // no body byte for this long is a read error
  };
  CurlHttpClient();
  explicit CurlHttpClient(Options options);
  ~CurlHttpClient() override;
  CurlHttpClient(const CurlHttpClient&) = delete;
  CurlHttpClient& operator=(const CurlHttpClient&) = delete;

  uint32_t ConnectedStateFlags() override;
  std::unique_ptr<HttpSession> Open(std::string_view agent, int32_t accessType) override;

 private:
  Options options_;
};

}  // namespace updater
