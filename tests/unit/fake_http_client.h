// An HttpClient for unit tests: serves one fixed body in reads of a chosen
// size, or fails at a chosen point, and keeps the requests it was given.
#pragma once

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "download/http_client.h"

namespace updater::testing {

struct FakeResponse {
  bool openFails = false;             // OpenUrl gives none
  std::optional<int32_t> contentLength;
  std::string body;
  int32_t readSize = 10240;           // at most this much per read
  int32_t failAfterReads = -1;        // this read fails (-1: none does)
};

class FakeHttpClient : public HttpClient {
 public:
  explicit FakeHttpClient(FakeResponse response) : response_(std::move(response)) {}

  uint32_t ConnectedStateFlags() override { return 0; }
  std::unique_ptr<HttpSession> Open(std::string_view agent, int32_t) override {
    agents.emplace_back(agent);
    return std::make_unique<Session>(this);
  }

  std::vector<std::string> agents;
  std::vector<std::string> urls;

 private:
  class Request : public HttpRequest {
   public:
    explicit Request(const FakeResponse& r) : r_(r) {}
    std::optional<int32_t> ContentLength() override { return r_.contentLength; }
    bool Read(char* buffer, int32_t size, int32_t* count) override {
      if (reads_++ == r_.failAfterReads) return false;
      const std::size_t n = std::min<std::size_t>(
          {static_cast<std::size_t>(size), static_cast<std::size_t>(r_.readSize),
           r_.body.size() - offset_});
      std::copy_n(r_.body.data() + offset_, n, buffer);
      offset_ += n;
      *count = static_cast<int32_t>(n);
      return true;
    }

   private:
    const FakeResponse& r_;
    std::size_t offset_ = 0;
    int32_t reads_ = 0;
  };

  class Session : public HttpSession {
   public:
    explicit Session(FakeHttpClient* client) : client_(client) {}
    std::unique_ptr<HttpRequest> OpenUrl(std::string_view url, std::string_view) override {
      client_->urls.emplace_back(url);
      if (client_->response_.openFails) return nullptr;
      return std::make_unique<Request>(client_->response_);
    }

   private:
    FakeHttpClient* client_;
  };

  FakeResponse response_;
};

}  // namespace updater::testing
