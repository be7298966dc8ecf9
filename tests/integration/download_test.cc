// DownloadToFile with the libcurl client against a real HTTP server on
// loopback that misbehaves on request, writing real files.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "app/updater_state.h"
#include "download/curl/curl_http_client.h"
#include "download/download_to_file.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/threads.h"
#include "tests/integration/download_test_server.h"

namespace updater {
namespace {

namespace fs = std::filesystem;
using testing::MonotonicMs;
using testing::RecordedRequest;
using testing::TestHttpServer;

const std::string kReadError = "读文件出错!";
const std::string kOpenUrlError = "不能打开该URL!";
const std::string kLocalFileError = "不能打开本地的文件!";
const std::string kWriteError = "写文件出错!";
const std::string kTitle = "信息：";

// Limits for cases that must not give up; the stall cases use a short one.
const CurlHttpClient::Options kPatient{10000, 30000};
const CurlHttpClient::Options kImpatient{10000, 1000};

// The server's generated bodies: byte i is i % 251.
std::string Pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i % 251);
  return bytes;
}

std::string ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::mutex g_messagesMutex;
std::vector<std::string> g_messages;

void RecordMessage(std::string_view text, std::string_view title) {
  std::lock_guard lock(g_messagesMutex);
  g_messages.push_back(std::string(text) + (title == kTitle ? "" : " (wrong title)"));
}

struct Report {
  int32_t total, received, elapsed, transfer;
};

struct Outcome {
  int32_t result = 0;
  std::vector<std::string> messages;
  std::vector<Report> reports;
};

// The request lines every download sends after Host, byte for byte.
const std::vector<std::string> kRequestLines = {
    "Accept: */*",
    "Accept-Language: zh-cn",
    "Accept-Encoding: gzip, deflate",
    "User-Agent: Mozilla/4.0(compatible; MSIE 6.0; Windows NT 5.0; MyIE2; .NET CLR 1.1.4322)",
    "Pragma: no-cache",
    "Cache-Control: no-cache",
};

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Loopback is never sent through a proxy the environment may name.
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    char folder[] = "/tmp/download-test-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    folder_ = folder;
    served_ = folder_ + "/served";
    fs::create_directory(served_);
    target_ = folder_ + "/Tavrix-update.tmp";
    ASSERT_TRUE(server_.Start(served_, folder_ + "/requests.jsonl"));
    TheUpdaterState().downloadFile.store(kNoFile);
    std::lock_guard lock(g_messagesMutex);
    g_messages.clear();
  }

  void TearDown() override {
    server_.Stop();
    CloseFile(TheUpdaterState().downloadFile.load());
    TheUpdaterState().downloadFile.store(kNoFile);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  Outcome Download(const std::string& url, const std::string& target,
                   const CurlHttpClient::Options& options = kPatient) {
    CurlHttpClient client(options);
    DownloadSeams seams;
    seams.client = &client;
    seams.tickCount = &TickCount;
    seams.showMessage = &RecordMessage;
    Outcome outcome;
    outcome.result =
        DownloadToFile(seams, url, target,
                       [&](int32_t total, int32_t received, int32_t elapsed, int32_t transfer) {
                         outcome.reports.push_back({total, received, elapsed, transfer});
                       });
    std::lock_guard lock(g_messagesMutex);
    outcome.messages = g_messages;
    g_messages.clear();
    return outcome;
  }
  Outcome Download(const std::string& url) { return Download(url, target_); }

  // Reports hold together: one per block of 1..10240 bytes, the count
  // growing by each, transferBytes equal to it, a non-zero elapsed time,
  // the same total throughout, and the last count what the file holds.
  static void ExpectReportsFit(const std::vector<Report>& reports, int32_t total,
                               size_t fileSize) {
    int32_t previous = 0;
    for (const Report& r : reports) {
      EXPECT_EQ(r.total, total);
      EXPECT_GT(r.received - previous, 0);
      EXPECT_LE(r.received - previous, kDownloadBlockSize);
      EXPECT_EQ(r.transfer, r.received);
      EXPECT_GT(r.elapsed, 0);
      previous = r.received;
    }
    EXPECT_EQ(static_cast<size_t>(previous), fileSize);
  }

  std::string folder_;
  std::string served_;
  std::string target_;
  TestHttpServer server_;
};

// -- bodies that arrive whole ------------------------------------------------

struct BodyCase {
  const char* name;
  std::string pathAndQuery;
  std::string body;
  int32_t total;  // what the reports announce
};

TEST_F(DownloadTest, WholeBodiesAreWrittenAsTheyArrive) {
  // A real gzip stream of "hello\n": written as it is, never decoded.
  const std::string gzipped("\x1f\x8b\x08\x00\x00\x00\x00\x00\x02\x03\xcb\x48\xcd\xc9\xc9"
                            "\xe7\x02\x00\x20\x30\x3a\x36\x06\x00\x00\x00",
                            26);
  WriteBytes(served_ + "/hello.gz", gzipped);
  const BodyCase cases[] = {
      {"5 MB with Content-Length", "/_/gen/5242880", Pattern(5242880), 5242880},
      {"no Content-Length", "/_/gen/300000?framing=none", Pattern(300000), 0},
      {"chunked", "/_/gen/300000?framing=chunked&chunk=7000", Pattern(300000), 0},
      {"small writes", "/_/gen/50000?chunk=999", Pattern(50000), 50000},
      {"gzip", "/_/file/hello.gz?encoding=gzip", gzipped, 26},
      {"three redirects", "/_/redirect/3?to=/_/gen/20000", Pattern(20000), 20000},
      {"ten redirects", "/_/redirect/10?to=/_/gen/20000", Pattern(20000), 20000},
      // The redirects announce their own short bodies; only the final
      // response's length counts, and it has none.
      {"redirects to a chunked body", "/_/redirect/2?to=/_/gen/30000%3Fframing%3Dchunked",
       Pattern(30000), 0},
  };
  for (const BodyCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome outcome = Download(server_.Url(c.pathAndQuery));
    EXPECT_EQ(outcome.result, 0);
    EXPECT_TRUE(outcome.messages.empty());
    const std::string written = ReadBytes(target_);
    EXPECT_EQ(written.size(), c.body.size());
    EXPECT_TRUE(written == c.body);
    ExpectReportsFit(outcome.reports, c.total, written.size());
    EXPECT_GE(outcome.reports.size(), (c.body.size() + kDownloadBlockSize - 1) /
                                          static_cast<size_t>(kDownloadBlockSize));
  }
}

TEST_F(DownloadTest, EmptyBodyLeavesAnEmptyFileAndNoReport) {
  const std::string cases[] = {"/_/gen/0", "/_/gen/0?framing=chunked", "/_/gen/0?framing=none"};
  for (const std::string& path : cases) {
    SCOPED_TRACE(path);
    fs::remove(target_);
    const Outcome outcome = Download(server_.Url(path));
    EXPECT_EQ(outcome.result, 0);
    EXPECT_TRUE(outcome.messages.empty());
    EXPECT_TRUE(outcome.reports.empty());
    EXPECT_TRUE(fs::is_regular_file(target_));
    EXPECT_EQ(fs::file_size(target_), 0u);
  }
}

TEST_F(DownloadTest, LongerExistingFileIsTruncated) {
  WriteBytes(target_, std::string(300000, 'x'));
  const Outcome outcome = Download(server_.Url("/_/gen/20000"));
  EXPECT_EQ(outcome.result, 0);
  EXPECT_TRUE(ReadBytes(target_) == Pattern(20000));
}

TEST_F(DownloadTest, RequestCarriesTheHeaderLinesAndNoCache) {
  const Outcome outcome = Download(server_.Url("/_/redirect/2?to=/_/gen/10%3Fv%3D2.73"));
  ASSERT_EQ(outcome.result, 0);
  const std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].target, "/_/redirect/2?to=/_/gen/10%3Fv%3D2.73");
  EXPECT_EQ(requests[2].target, "/_/gen/10?v=2.73");
  std::vector<std::string> expected = {"Host: 127.0.0.1:" + std::to_string(server_.port())};
  expected.insert(expected.end(), kRequestLines.begin(), kRequestLines.end());
  for (const RecordedRequest& request : requests) {
    SCOPED_TRACE(request.target);
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.version, "HTTP/1.1");
    // libcurl sends the header text's own User-Agent line, not the agent text.
    EXPECT_EQ(request.headerLines, expected);
  }
}

// -- the URL cannot be fetched -------------------------------------------------

struct RefusedCase {
  const char* name;
  std::string url;  // "@" stands for http://127.0.0.1:<port>
};

TEST_F(DownloadTest, UnfetchableUrlLeavesTheTargetAlone) {
  int closedPort = 0;
  {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(getsockname(s, reinterpret_cast<sockaddr*>(&address), &length), 0);
    closedPort = ntohs(address.sin_port);
    close(s);  // nothing listens there now
  }
  const RefusedCase cases[] = {
      {"404", "@/_/status/404"},
      {"500", "@/_/status/500"},
      {"error status with a body", "@/_/gen/5000?status=403"},
      {"redirect loop", "@/_/loop"},
      {"eleven redirects", "@/_/redirect/11?to=/_/gen/10"},
      {"redirect to file", "@/_/redirect/1?to=file:///etc/hostname"},
      {"redirect to ftp", "@/_/redirect/1?to=ftp://127.0.0.1/x"},
      {"file scheme", "file:///etc/hostname"},
      {"ftp scheme", "ftp://127.0.0.1:" + std::to_string(closedPort) + "/x"},
      {"empty URL", ""},
      {"not a URL", "::"},
      {"connection refused", "http://127.0.0.1:" + std::to_string(closedPort) + "/x"},
      {"unknown host", "http://tavrix-download.invalid/x"},
  };
  for (const RefusedCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string url = c.url;
    if (!url.empty() && url[0] == '@') url = server_.Url(url.substr(1));
    WriteBytes(target_, "the previous download");
    const Outcome outcome = Download(url);
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.messages, std::vector<std::string>{kOpenUrlError});
    EXPECT_TRUE(outcome.reports.empty());
    EXPECT_EQ(ReadBytes(target_), "the previous download");
    EXPECT_EQ(TheUpdaterState().downloadFile.load(), kNoFile);
  }
  // The loop was followed ten times and then given up.
  int loops = 0;
  for (const RecordedRequest& r : server_.Requests()) loops += r.target == "/_/loop";
  EXPECT_EQ(loops, 11);
}

TEST_F(DownloadTest, ErrorStatusCreatesNoFile) {
  const Outcome outcome = Download(server_.Url("/_/status/404"));
  EXPECT_EQ(outcome.result, -1);
  EXPECT_FALSE(fs::exists(target_));
}

TEST_F(DownloadTest, ServerThatNeverAnswersGivesUpWithoutAFile) {
  const Outcome outcome = Download(server_.Url("/_/hang"), target_, kImpatient);
  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(outcome.messages, std::vector<std::string>{kOpenUrlError});
  EXPECT_FALSE(fs::exists(target_));
}

TEST_F(DownloadTest, ConnectionThatNeverCompletesGivesUp) {
  // A listener whose one-place queue is taken answers no further SYN.
  const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_EQ(connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);

  const Outcome outcome = Download(
      "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/x", target_,
      CurlHttpClient::Options{1000, 30000});
  close(filler);
  close(listener);
  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(outcome.messages, std::vector<std::string>{kOpenUrlError});
  EXPECT_FALSE(fs::exists(target_));
}

TEST_F(DownloadTest, HttpsVerifiesTheServerCertificate) {
  const std::string key = folder_ + "/key.pem";
  const std::string certificate = folder_ + "/cert.pem";
  const std::string command = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1"
                              " -addext subjectAltName=IP:127.0.0.1 -keyout " + key +
                              " -out " + certificate + " >/dev/null 2>&1";
  if (system(command.c_str()) != 0) GTEST_SKIP() << "openssl cannot make a certificate";
  TestHttpServer tls;
  ASSERT_TRUE(tls.Start(served_, folder_ + "/tls-requests.jsonl",
                        {"--tls-cert", certificate, "--tls-key", key}));
  const Outcome outcome =
      Download("https://127.0.0.1:" + std::to_string(tls.port()) + "/_/gen/100");
  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(outcome.messages, std::vector<std::string>{kOpenUrlError});
  EXPECT_FALSE(fs::exists(target_));
  EXPECT_TRUE(tls.Requests().empty());  // refused during the handshake
}

// -- the body breaks off ------------------------------------------------------

struct BrokenCase {
  const char* name;
  std::string pathAndQuery;
  size_t sentBeforeBreak;
  int32_t total;
  bool exact;  // all bytes sent before the break arrive (not so with a reset)
};

TEST_F(DownloadTest, BrokenBodyIsAReadErrorAndKeepsWhatArrived) {
  const BrokenCase cases[] = {
      {"short body", "/_/gen/100000?cut=30000", 30000, 100000, true},
      {"chunked, cut short", "/_/gen/100000?framing=chunked&chunk=7000&cut=30000", 30000, 0, true},
      {"reset mid-body", "/_/gen/1000000?cut=200000&after=reset", 200000, 1000000, false},
      {"stall mid-body", "/_/gen/100000?cut=30000&after=stall", 30000, 100000, true},
  };
  for (const BrokenCase& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(target_);
    const Outcome outcome = Download(server_.Url(c.pathAndQuery), target_, kImpatient);
    EXPECT_EQ(outcome.result, -1);
    EXPECT_EQ(outcome.messages, std::vector<std::string>{kReadError});
    const std::string written = ReadBytes(target_);
    if (c.exact) {
      EXPECT_EQ(written.size(), c.sentBeforeBreak);
    } else {
      EXPECT_LE(written.size(), c.sentBeforeBreak);
    }
    EXPECT_TRUE(written == Pattern(written.size()));
    ExpectReportsFit(outcome.reports, c.total, written.size());
  }
}

// -- the local file -----------------------------------------------------------

TEST_F(DownloadTest, MissingTargetFolderIsALocalFileError) {
  const Outcome outcome = Download(server_.Url("/_/gen/1000"), folder_ + "/missing/file.tmp");
  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(outcome.messages, std::vector<std::string>{kLocalFileError});
  EXPECT_TRUE(outcome.reports.empty());
  EXPECT_EQ(TheUpdaterState().downloadFile.load(), kNoFile);
  EXPECT_EQ(server_.Requests().size(), 1u);  // the URL was opened first
}

TEST_F(DownloadTest, SymbolicLinkAtTheTargetIsNotFollowed) {
  const std::string victim = folder_ + "/victim";
  WriteBytes(victim, "must stay");
  fs::create_symlink(victim, target_);
  const Outcome outcome = Download(server_.Url("/_/gen/1000"));
  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(outcome.messages, std::vector<std::string>{kLocalFileError});
  EXPECT_EQ(ReadBytes(victim), "must stay");
  EXPECT_TRUE(fs::is_symlink(target_));
  EXPECT_EQ(TheUpdaterState().downloadFile.load(), kNoFile);
}

TEST_F(DownloadTest, FailedWriteIsAWriteError) {
  // A file size limit makes the disk refuse bytes as a full disk would.
  constexpr rlim_t kLimit = 50000;
  rlimit before{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
  if (before.rlim_max != RLIM_INFINITY && before.rlim_max < kLimit) GTEST_SKIP();
  void (*previousHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  rlimit limited = before;
  limited.rlim_cur = kLimit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const Outcome outcome = Download(server_.Url("/_/gen/200000"));
  setrlimit(RLIMIT_FSIZE, &before);
  signal(SIGXFSZ, previousHandler);

  EXPECT_EQ(outcome.result, -1);
  EXPECT_EQ(outcome.messages, std::vector<std::string>{kWriteError});
  const std::string written = ReadBytes(target_);
  EXPECT_EQ(written.size(), kLimit);
  EXPECT_TRUE(written == Pattern(written.size()));
  // The block that did not fit whole is not reported.
  ASSERT_FALSE(outcome.reports.empty());
  EXPECT_LT(static_cast<size_t>(outcome.reports.back().received), kLimit);
}

// -- force-ending the worker -------------------------------------------------

struct StalledRead {
  std::string url;
  std::atomic<bool> blocked{false};  // reading past what arrived before the stall
  std::atomic<bool> finished{false};
  std::atomic<bool> lastReadOk{true};
};
StalledRead* g_stalled = nullptr;

void ReadUntilForceEnded() {
  StalledRead& stalled = *g_stalled;
  CurlHttpClient client(kPatient);
  std::unique_ptr<HttpSession> session = client.Open("Agent1", 4);
  std::unique_ptr<HttpRequest> request = session ? session->OpenUrl(stalled.url, "") : nullptr;
  static char buffer[kDownloadBlockSize];
  int32_t received = 0;
  int32_t count = 1;
  bool ok = request != nullptr;
  while (ok && count > 0) {
    if (received >= 20000) stalled.blocked = true;
    ok = request->Read(buffer, kDownloadBlockSize, &count);
    received += count;
  }
  stalled.lastReadOk = ok;
  stalled.finished = true;
}

TEST_F(DownloadTest, ForceEndingTheWorkerEndsABlockedRead) {
  // Left to the process's end if the worker never finishes.
  auto* stalled = new StalledRead();
  stalled->url = server_.Url("/_/gen/100000?cut=20000&after=stall");
  g_stalled = stalled;
  const ThreadHandle worker = StartThread(&ReadUntilForceEnded);
  ASSERT_NE(worker, kNoThread);
  // Both waits end well within the 30 s stall limit, so only the force-end
  // can have ended the read.
  const int64_t deadline = MonotonicMs() + 20000;
  while (!stalled->blocked && !stalled->finished && MonotonicMs() < deadline) poll(nullptr, 0, 5);
  ASSERT_TRUE(stalled->blocked);
  ForceEndThread(worker);
  while (!stalled->finished && MonotonicMs() < deadline) poll(nullptr, 0, 5);
  ASSERT_TRUE(stalled->finished);
  EXPECT_FALSE(stalled->lastReadOk);
  delete stalled;
}

}  // namespace
}  // namespace updater
