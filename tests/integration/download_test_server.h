// Runs tests/support/http_server.py for one test and reads its request log.
//
// The server is started with Debian's python3 on an ephemeral loopback port;
// Start waits for its port line with a deadline. Its standard input is a
// pipe from this process, so it also ends when the test process dies.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace updater::testing {

inline int64_t MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// A JSON value, enough for the server's log lines. Strings keep one byte per
// character for code points up to U+00FF (the server writes header bytes
// as Latin-1 characters), UTF-8 above.
struct Json {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::map<std::string, Json> fields;

  const Json& operator[](const std::string& key) const {
    static const Json missing;
    auto found = fields.find(key);
    return found == fields.end() ? missing : found->second;
  }

  static bool Parse(const std::string& in, Json* out) {
    size_t at = 0;
    return ParseValue(in, &at, out) && (SkipSpace(in, &at), at == in.size());
  }

 private:
  static void SkipSpace(const std::string& in, size_t* at) {
    while (*at < in.size() && (in[*at] == ' ' || in[*at] == '\t' || in[*at] == '\n' ||
                                in[*at] == '\r')) {
      ++*at;
    }
  }
  static bool Literal(const std::string& in, size_t* at, const char* word) {
    const std::string w(word);
    if (in.compare(*at, w.size(), w) != 0) return false;
    *at += w.size();
    return true;
  }
  static void AppendCodePoint(uint32_t cp, std::string* out) {
    if (cp <= 0xFF) {
      out->push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  static bool ParseString(const std::string& in, size_t* at, std::string* out) {
    if (in[*at] != '"') return false;
    ++*at;
    while (*at < in.size()) {
      const unsigned char c = static_cast<unsigned char>(in[(*at)++]);
      if (c == '"') return true;
      if (c == '\\') {
        if (*at >= in.size()) return false;
        const char e = in[(*at)++];
        switch (e) {
          case 'n': out->push_back('\n'); break;
          case 'r': out->push_back('\r'); break;
          case 't': out->push_back('\t'); break;
          case 'b': out->push_back('\b'); break;
          case 'f': out->push_back('\f'); break;
          case 'u': {
            if (*at + 4 > in.size()) return false;
            AppendCodePoint(static_cast<uint32_t>(std::stoul(in.substr(*at, 4), nullptr, 16)),
                            out);
            *at += 4;
            break;
          }
          default: out->push_back(e);
        }
      } else if (c >= 0xC2 && c < 0xC4 && *at < in.size()) {
        // U+0080..U+00FF: one byte, as the server meant it.
        const unsigned char next = static_cast<unsigned char>(in[(*at)++]);
        out->push_back(static_cast<char>(((c & 0x1F) << 6) | (next & 0x3F)));
      } else {
        out->push_back(static_cast<char>(c));
      }
    }
    return false;
  }
  static bool ParseValue(const std::string& in, size_t* at, Json* out) {
    SkipSpace(in, at);
    if (*at >= in.size()) return false;
    const char c = in[*at];
    if (c == '{') {
      out->kind = Kind::kObject;
      ++*at;
      SkipSpace(in, at);
      if (*at < in.size() && in[*at] == '}') return ++*at, true;
      for (;;) {
        SkipSpace(in, at);
        std::string key;
        if (*at >= in.size() || !ParseString(in, at, &key)) return false;
        SkipSpace(in, at);
        if (*at >= in.size() || in[(*at)++] != ':') return false;
        if (!ParseValue(in, at, &out->fields[key])) return false;
        SkipSpace(in, at);
        if (*at >= in.size()) return false;
        if (in[*at] == ',') { ++*at; continue; }
        return in[(*at)++] == '}';
      }
    }
    if (c == '[') {
      out->kind = Kind::kArray;
      ++*at;
      SkipSpace(in, at);
      if (*at < in.size() && in[*at] == ']') return ++*at, true;
      for (;;) {
        out->items.emplace_back();
        if (!ParseValue(in, at, &out->items.back())) return false;
        SkipSpace(in, at);
        if (*at >= in.size()) return false;
        if (in[*at] == ',') { ++*at; continue; }
        return in[(*at)++] == ']';
      }
    }
    if (c == '"') {
      out->kind = Kind::kString;
      return ParseString(in, at, &out->text);
    }
    if (Literal(in, at, "true")) { out->kind = Kind::kBool; out->boolean = true; return true; }
    if (Literal(in, at, "false")) { out->kind = Kind::kBool; return true; }
    if (Literal(in, at, "null")) return true;
    size_t used = 0;
    try {
      out->number = std::stod(in.substr(*at, 40), &used);
    } catch (...) {
      return false;
    }
    out->kind = Kind::kNumber;
    *at += used;
    return used > 0;
  }
};

// One request as the server saw it.
struct RecordedRequest {
  std::string method;
  std::string target;  // path and query as sent
  std::string version;
  std::vector<std::string> headerLines;  // "Name: value", in arrival order
};

class TestHttpServer {
 public:
  TestHttpServer() = default;
  ~TestHttpServer() { Stop(); }
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;

  // Serves `root`, records into `log`. Extra arguments go to the script
  // (for instance --tls-cert). False when no port line came within 20 s.
  bool Start(const std::string& root, const std::string& log,
             const std::vector<std::string>& extra = {}) {
    log_ = log;
    int input[2], output[2];
    if (pipe2(input, O_CLOEXEC) != 0) return false;
    if (pipe2(output, O_CLOEXEC) != 0) return false;
    std::vector<std::string> args = {"/usr/bin/python3", UPDATER_TEST_SUPPORT_DIR "/http_server.py",
                                     "--root", root, "--log", log, "--watch-stdin"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(input[0]);
    close(output[1]);
    stdin_ = input[1];
    if (spawned != 0) {
      pid_ = -1;
      close(output[0]);
      return false;
    }
    const bool ok = ReadPortLine(output[0]);
    close(output[0]);
    return ok;
  }

  void Stop() {
    if (stdin_ >= 0) close(stdin_);
    stdin_ = -1;
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    const int64_t deadline = MonotonicMs() + 5000;
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (MonotonicMs() > deadline) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        break;
      }
      poll(nullptr, 0, 10);
    }
    pid_ = -1;
  }

  int port() const { return port_; }
  std::string Url(const std::string& pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
  }

  // Every request recorded so far, in order.
  std::vector<RecordedRequest> Requests() const {
    std::vector<RecordedRequest> requests;
    std::ifstream in(log_);
    std::string line;
    while (std::getline(in, line)) {
      Json entry;
      if (!Json::Parse(line, &entry)) continue;
      RecordedRequest request{entry["method"].text, entry["target"].text, entry["version"].text,
                              {}};
      for (const Json& header : entry["headers"].items) {
        if (header.items.size() == 2) {
          request.headerLines.push_back(header.items[0].text + ": " + header.items[1].text);
        }
      }
      requests.push_back(std::move(request));
    }
    return requests;
  }

 private:
  bool ReadPortLine(int fd) {
    std::string got;
    const int64_t deadline = MonotonicMs() + 20000;
    while (got.find('\n') == std::string::npos) {
      const int64_t left = deadline - MonotonicMs();
      if (left <= 0) return false;
      pollfd waitFor{fd, POLLIN, 0};
      if (poll(&waitFor, 1, static_cast<int>(left)) <= 0) continue;
      char chunk[64];
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n <= 0) return false;  // the server died before it listened
      got.append(chunk, static_cast<size_t>(n));
    }
    port_ = std::atoi(got.c_str());
    return port_ > 0;
  }

  pid_t pid_ = -1;
  int stdin_ = -1;
  int port_ = 0;
  std::string log_;
};

}  // namespace updater::testing
