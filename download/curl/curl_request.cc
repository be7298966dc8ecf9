#include "download/curl/curl_request.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "download/content_length.h"
#include "platform/threads.h"

namespace updater::curl {

namespace {

// libcurl's receive buffer. Larger than the consumer's blocks so that one
// pass through libcurl serves several of them from the staging buffer.
constexpr long kReceiveBufferSize = 64 * 1024;
// Holds what one pass of libcurl may hand over before the transfer pauses.
constexpr size_t kStagingSize =
    4 * std::max<size_t>(kReceiveBufferSize, CURL_MAX_WRITE_SIZE);
// How long a wait for the network lasts at most before the force-end flag
// and the stall limit are looked at again.
constexpr int kWaitSliceMs = 100;
constexpr long kMaxRedirects = 10;

template <class Value>
bool Set(CURL* easy, CURLoption option, Value value) {
  return curl_easy_setopt(easy, option, value) == CURLE_OK;
}

// The header text's lines, then the two that keep caches out of the way.
// Empty lines are dropped: libcurl would send them as a malformed header.
HeaderList BuildHeaderList(std::string_view headers) {
  HeaderList list;
  auto append = [&list](std::string_view line) {
    if (line.empty()) return true;
    const std::string copy(line);  // libcurl wants a terminated string
    curl_slist* grown = curl_slist_append(list.get(), copy.c_str());
    if (grown == nullptr) return false;
    list.release();
    list.reset(grown);
    return true;
  };
  size_t from = 0;
  while (from <= headers.size()) {
    size_t end = headers.find("\r\n", from);
    if (end == std::string_view::npos) end = headers.size();
    if (!append(headers.substr(from, end - from))) return nullptr;
    from = end + 2;
  }
  if (!append("Pragma: no-cache") || !append("Cache-Control: no-cache")) return nullptr;
  return list;
}

}  // namespace

std::unique_ptr<CurlRequest> CurlRequest::Open(std::string_view url, std::string_view headers,
                                               const RequestSettings& settings) {
  std::unique_ptr<CurlRequest> request(new (std::nothrow) CurlRequest());
  if (!request || !request->Start(url, headers, settings)) return nullptr;
  while (request->state_ == State::kRunning && request->Staged() == 0) request->Pump();
  // Bytes of the body that came before a failure are handed out first; the
  // failure then ends the reading.
  if (request->state_ == State::kFailed && request->Staged() == 0) return nullptr;
  // FAILONERROR already ends such a transfer; this keeps an error page out
  // of the file even where libcurl lets one through.
  long status = 0;
  curl_easy_getinfo(request->easy_.get(), CURLINFO_RESPONSE_CODE, &status);
  if (status >= 400) return nullptr;
  return request;
}

bool CurlRequest::Start(std::string_view url, std::string_view headers,
                        const RequestSettings& settings) {
  if (!GlobalInitOnce()) return false;
  staging_.reset(new (std::nothrow) char[kStagingSize]);
  if (!staging_) return false;
  stagingSize_ = kStagingSize;
  stallLimit_ = std::chrono::milliseconds(settings.stallTimeoutMs);
  agent_.assign(settings.agent);
  headerList_ = BuildHeaderList(headers);
  multi_.reset(curl_multi_init());
  easy_.reset(curl_easy_init());
  if (!headerList_ || !multi_ || !easy_) return false;

  CURL* easy = easy_.get();
  const std::string target(url);
  const bool configured =
      Set(easy, CURLOPT_URL, target.c_str()) && Set(easy, CURLOPT_HTTPGET, 1L) &&
      // HTTP/1.1 as the platform client speaks it, also over TLS.
      Set(easy, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1)) &&
      Set(easy, CURLOPT_PROTOCOLS_STR, "http,https") &&
      Set(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") &&
      Set(easy, CURLOPT_FOLLOWLOCATION, 1L) && Set(easy, CURLOPT_MAXREDIRS, kMaxRedirects) &&
      Set(easy, CURLOPT_HTTPHEADER, headerList_.get()) &&
      // The header list has a User-Agent line of its own, and libcurl sends
      // that one; the agent text goes along for clients that honour it.
      Set(easy, CURLOPT_USERAGENT, agent_.c_str()) &&
      // The body is the file: bytes are stored as they come, never decoded.
      Set(easy, CURLOPT_HTTP_CONTENT_DECODING, 0L) &&
      Set(easy, CURLOPT_FAILONERROR, 1L) &&
      Set(easy, CURLOPT_CONNECTTIMEOUT_MS, settings.connectTimeoutMs) &&
      Set(easy, CURLOPT_NOSIGNAL, 1L) &&
      Set(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize) &&
      Set(easy, CURLOPT_WRITEFUNCTION, &CurlRequest::OnBody) &&
      Set(easy, CURLOPT_WRITEDATA, this) &&
      Set(easy, CURLOPT_HEADERFUNCTION, &CurlRequest::OnHeader) &&
      Set(easy, CURLOPT_HEADERDATA, this) &&
      Set(easy, CURLOPT_XFERINFOFUNCTION, &CurlRequest::OnProgress) &&
      Set(easy, CURLOPT_XFERINFODATA, this) && Set(easy, CURLOPT_NOPROGRESS, 0L);
  if (!configured) return false;
  if (curl_multi_add_handle(multi_.get(), easy) != CURLM_OK) return false;
  attached_ = true;
  return true;
}

CurlRequest::~CurlRequest() {
  if (attached_) curl_multi_remove_handle(multi_.get(), easy_.get());
  easy_.reset();   // before the multi handle and the header list it used
  multi_.reset();
}

std::optional<int32_t> CurlRequest::ContentLength() { return contentLength_; }

bool CurlRequest::Read(char* buffer, int32_t size, int32_t* count) {
  *count = 0;
  if (size <= 0) return state_ != State::kFailed;
  for (;;) {
    if (const size_t staged = Staged(); staged > 0) {
      const size_t n = std::min(staged, static_cast<size_t>(size));
      std::memcpy(buffer, staging_.get() + stagingBegin_, n);
      stagingBegin_ += n;
      if (stagingBegin_ == stagingEnd_) stagingBegin_ = stagingEnd_ = 0;
      *count = static_cast<int32_t>(n);
      return true;
    }
    if (state_ == State::kDone) return true;
    if (state_ == State::kFailed) return false;
    if (paused_) {
      // Everything staged has been handed out; libcurl now passes on what
      // it held back, possibly from inside this call.
      paused_ = false;
      if (curl_easy_pause(easy_.get(), CURLPAUSE_CONT) != CURLE_OK) state_ = State::kFailed;
      continue;
    }
    Pump();
  }
}

void CurlRequest::Pump() {
  lastByte_ = Clock::now();
  for (;;) {
    int running = 0;
    if (curl_multi_perform(multi_.get(), &running) != CURLM_OK) {
      state_ = State::kFailed;
      return;
    }
    CollectResult();
    if (Staged() > 0 || paused_ || state_ != State::kRunning) return;
    // A force-ended worker must not sit in a network wait.
    if (StopRequested()) {
      state_ = State::kFailed;
      return;
    }
    const Clock::duration left = stallLimit_ - (Clock::now() - lastByte_);
    if (left <= Clock::duration::zero()) {
      state_ = State::kFailed;
      return;
    }
    const auto leftMs = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    const int waitMs = static_cast<int>(std::min<decltype(leftMs)>(leftMs, kWaitSliceMs));
    if (curl_multi_poll(multi_.get(), nullptr, 0, waitMs, nullptr) != CURLM_OK) {
      state_ = State::kFailed;
      return;
    }
  }
}

void CurlRequest::CollectResult() {
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_.get(), &left)) {
    if (message->msg != CURLMSG_DONE) continue;
    state_ = message->data.result == CURLE_OK ? State::kDone : State::kFailed;
  }
}

bool CurlRequest::MakeRoom(size_t size) noexcept {
  if (size <= stagingSize_ - stagingEnd_) return true;
  if (stagingBegin_ > 0) {
    std::memmove(staging_.get(), staging_.get() + stagingBegin_, Staged());
    stagingEnd_ -= stagingBegin_;
    stagingBegin_ = 0;
    if (size <= stagingSize_ - stagingEnd_) return true;
  }
  if (stagingEnd_ > 0) return false;  // wait until the consumer has drained it
  // A single piece larger than the whole buffer: libcurl never hands one
  // over at these settings, but pausing would not help, so make room.
  std::unique_ptr<char[]> larger(new (std::nothrow) char[size]);
  if (!larger) return false;
  staging_ = std::move(larger);
  stagingSize_ = size;
  return true;
}

size_t CurlRequest::OnBody(char* data, size_t one, size_t count, void* self) noexcept {
  auto& request = *static_cast<CurlRequest*>(self);
  const size_t size = one * count;
  if (!request.MakeRoom(size)) {
    if (request.Staged() == 0) return 0;  // out of memory: fails the transfer
    request.paused_ = true;
    return CURL_WRITEFUNC_PAUSE;  // libcurl keeps the piece and offers it again
  }
  std::memcpy(request.staging_.get() + request.stagingEnd_, data, size);
  request.stagingEnd_ += size;
  return size;
}

size_t CurlRequest::OnHeader(char* data, size_t one, size_t count, void* self) noexcept {
  auto* request = static_cast<CurlRequest*>(self);
  request->lastByte_ = Clock::now();
  // Zero refuses the response: libcurl then fails the transfer.
  return request->NoteHeaderLine(std::string_view(data, one * count)) ? one * count : 0;
}

bool CurlRequest::NoteHeaderLine(std::string_view line) {
  // Every response, a redirect's included, starts with its status line.
  if (line.substr(0, 5) == "HTTP/") {
    contentLength_.reset();
    contentLengthSeen_ = false;
    return true;
  }
  constexpr std::string_view kName = "content-length:";
  if (line.size() < kName.size()) return true;
  for (size_t i = 0; i < kName.size(); ++i) {
    const char c = line[i];
    if ((c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c) != kName[i]) return true;
  }
  const std::optional<int32_t> length = ReadContentLength(line.substr(kName.size()));
  // Two lengths that disagree leave the body's end unknown: such a response
  // is refused rather than framed by a guess.
  if (contentLengthSeen_) return length == contentLength_;
  contentLengthSeen_ = true;
  contentLength_ = length;
  return true;
}

int CurlRequest::OnProgress(void*, curl_off_t, curl_off_t, curl_off_t, curl_off_t) noexcept {
  return StopRequested() ? 1 : 0;  // non-zero aborts the transfer
}

}  // namespace updater::curl
