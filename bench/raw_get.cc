// The ceiling of the benchmark: one HTTP GET on a plain socket, the body
// received in 10240-byte blocks and each block written to a file. No
// library, no progress, no redirects: the least work a downloader that reads
// in such blocks has to do.
//
//   bench_raw_get http://HOST:PORT/PATH OUTPUT
//
// Exit status 0 when a 200 response's whole body (its Content-Length) is in
// OUTPUT; 1 with a line on stderr otherwise.
#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr size_t kBlockSize = 10240;

struct Url {
  std::string host;
  std::string port = "80";
  std::string path = "/";
};

bool ParseUrl(std::string_view text, Url* url) {
  constexpr std::string_view kScheme = "http://";
  if (text.substr(0, kScheme.size()) != kScheme) return false;
  text.remove_prefix(kScheme.size());
  const size_t slash = text.find('/');
  const std::string_view authority = text.substr(0, slash);
  if (slash != std::string_view::npos) url->path = std::string(text.substr(slash));
  const size_t colon = authority.rfind(':');
  url->host = std::string(authority.substr(0, colon));
  if (colon != std::string_view::npos) url->port = std::string(authority.substr(colon + 1));
  return !url->host.empty();
}

int Connect(const Url& url) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(url.host.c_str(), url.port.c_str(), &hints, &found) != 0) return -1;
  int fd = -1;
  for (addrinfo* a = found; a != nullptr && fd < 0; a = a->ai_next) {
    fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd >= 0 && connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      close(fd);
      fd = -1;
    }
  }
  freeaddrinfo(found);
  return fd;
}

bool SendAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(fd, data.data(), data.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

int Fail(const char* what) {
  std::fprintf(stderr, "bench_raw_get: %s\n", what);
  return 1;
}

// The Content-Length of a header block, or -1.
long long ContentLength(std::string_view head) {
  constexpr std::string_view kName = "\r\ncontent-length:";
  for (size_t i = 0; i + kName.size() <= head.size(); ++i) {
    if (strncasecmp(head.data() + i, kName.data(), kName.size()) == 0) {
      return std::strtoll(std::string(head.substr(i + kName.size(), 32)).c_str(), nullptr, 10);
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Url url;
  if (argc != 3 || !ParseUrl(argv[1], &url)) {
    std::fprintf(stderr, "usage: bench_raw_get http://HOST:PORT/PATH OUTPUT\n");
    return 2;
  }
  const int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (out < 0) return Fail("cannot create the output file");
  const int sock = Connect(url);
  if (sock < 0) return Fail("cannot connect");
  const std::string request = "GET " + url.path + " HTTP/1.1\r\nHost: " + url.host + ":" +
                              url.port + "\r\nConnection: close\r\n\r\n";
  if (!SendAll(sock, request)) return Fail("cannot send the request");

  static char block[kBlockSize];
  std::string head;
  long long length = -1;
  long long written = 0;
  bool inBody = false;
  for (;;) {
    const ssize_t n = recv(sock, block, kBlockSize, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail("receive error");
    if (n == 0) break;
    if (inBody) {
      if (!WriteAll(out, block, static_cast<size_t>(n))) return Fail("write error");
      written += n;
      continue;
    }
    head.append(block, static_cast<size_t>(n));
    const size_t end = head.find("\r\n\r\n");
    if (end == std::string::npos) continue;
    if (head.compare(0, 12, "HTTP/1.1 200") != 0 && head.compare(0, 12, "HTTP/1.0 200") != 0) {
      return Fail("the status is not 200");
    }
    length = ContentLength(std::string_view(head).substr(0, end + 2));
    const size_t bodyStart = end + 4;
    if (!WriteAll(out, head.data() + bodyStart, head.size() - bodyStart)) {
      return Fail("write error");
    }
    written += static_cast<long long>(head.size() - bodyStart);
    inBody = true;
  }
  close(sock);
  if (close(out) != 0) return Fail("write error at close");
  if (!inBody || length < 0 || written != length) return Fail("the body is incomplete");
  return 0;
}
