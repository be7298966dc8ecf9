#include "download/curl/curl_http_client.h"

#include <cstdlib>
#include <new>
#include <string>

#include "download/curl/curl_handles.h"
#include "download/curl/curl_request.h"

namespace updater {

namespace curl {

bool GlobalInitOnce() {
  // A function-local static is initialised exactly once, thread-safely.
  static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
  return initialised;
}

}  // namespace curl

namespace {

constexpr uint32_t kConnectionLan = 0x02;
constexpr uint32_t kConnectionProxy = 0x04;

bool HasEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

// The root handle: the agent text and the limits, shared by its requests.
// Both access types come to the same thing here: libcurl takes its proxy
// from the environment (http_proxy, https_proxy, all_proxy, no_proxy) and
// has no automatic proxy configuration to switch off.
class CurlSession final : public HttpSession {
 public:
  CurlSession(std::string_view agent, const CurlHttpClient::Options& options)
      : agent_(agent), options_(options) {}

  std::unique_ptr<HttpRequest> OpenUrl(std::string_view url, std::string_view headers) override {
    const curl::RequestSettings settings{agent_, options_.connectTimeoutMs,
                                         options_.stallTimeoutMs};
    return curl::CurlRequest::Open(url, headers, settings);
  }

 private:
  std::string agent_;
  CurlHttpClient::Options options_;
};

}  // namespace

CurlHttpClient::CurlHttpClient() : CurlHttpClient(Options{}) {}
CurlHttpClient::CurlHttpClient(Options options) : options_(options) {}
CurlHttpClient::~CurlHttpClient() = default;

uint32_t CurlHttpClient::ConnectedStateFlags() {
  // The proxy bit says what libcurl will do: go through the proxy that the
  // environment names.
  const bool proxied = HasEnvironment("http_proxy") || HasEnvironment("https_proxy") ||
                       HasEnvironment("HTTPS_PROXY") || HasEnvironment("all_proxy") ||
                       HasEnvironment("ALL_PROXY");
  return kConnectionLan | (proxied ? kConnectionProxy : 0);
}

std::unique_ptr<HttpSession> CurlHttpClient::Open(std::string_view agent, int32_t) {
  if (!curl::GlobalInitOnce()) return nullptr;
  return std::unique_ptr<HttpSession>(new (std::nothrow) CurlSession(agent, options_));
}

HttpClient& PlatformHttpClient() {
  // Never destroyed: a worker may still use it while the process ends.
  static CurlHttpClient* const client = new CurlHttpClient();
  return *client;
}

}  // namespace updater
