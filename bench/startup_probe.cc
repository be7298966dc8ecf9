// Start-up time: from the exec of a program to the mapping of its window
// with a given title, watched on the X server (the display of $DISPLAY).
// With no window manager a toplevel is a child of the root window, so its
// map is announced on the root's substructure.
//
//   bench_startup_probe [--timeout SECONDS] TITLE PROGRAM [ARGS...]
//
// Starts PROGRAM with the caller's environment, prints "<milliseconds>" on
// stdout once a window titled TITLE (_NET_WM_NAME, else WM_NAME) is mapped,
// then ends the program (SIGTERM, SIGKILL after 10 s) and collects it.
// Exit status 0 on success; 1 when the program ended first or the timeout
// passed.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

xcb_atom_t Atom(xcb_connection_t* connection, const char* name) {
  const xcb_intern_atom_cookie_t cookie =
      xcb_intern_atom(connection, 0, static_cast<uint16_t>(std::strlen(name)), name);
  std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
      xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

std::string Property(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property) {
  const xcb_get_property_cookie_t cookie =
      xcb_get_property(connection, 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024);
  std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> reply(
      xcb_get_property_reply(connection, cookie, nullptr), &std::free);
  if (!reply) return std::string();
  return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                     static_cast<size_t>(xcb_get_property_value_length(reply.get())));
}

// Ends the program and collects it, whatever it does with SIGTERM.
void EndChild(pid_t child) {
  kill(child, SIGTERM);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
  while (Clock::now() < deadline) {
    if (waitpid(child, nullptr, WNOHANG) == child) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
  int arg = 1;
  double timeoutSeconds = 60;
  if (arg + 1 < argc && std::strcmp(argv[arg], "--timeout") == 0) {
    timeoutSeconds = std::atof(argv[arg + 1]);
    arg += 2;
  }
  if (argc - arg < 2) {
    std::fprintf(stderr, "usage: bench_startup_probe [--timeout S] TITLE PROGRAM [ARGS...]\n");
    return 2;
  }
  const std::string title = argv[arg];
  char** program = argv + arg + 1;

  xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
  if (xcb_connection_has_error(connection)) {
    std::fprintf(stderr, "bench_startup_probe: no X display\n");
    return 1;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
  const xcb_atom_t netWmName = Atom(connection, "_NET_WM_NAME");
  // Listening starts before the program exists, so no map can be missed.
  const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_void_cookie_t listen =
      xcb_change_window_attributes_checked(connection, root, XCB_CW_EVENT_MASK, &mask);
  if (xcb_generic_error_t* error = xcb_request_check(connection, listen)) {
    std::free(error);
    std::fprintf(stderr, "bench_startup_probe: cannot watch the root window\n");
    return 1;
  }

  const Clock::time_point start = Clock::now();
  const pid_t child = fork();
  if (child < 0) return 1;
  if (child == 0) {
    execvp(program[0], program);
    _exit(127);
  }

  const Clock::time_point deadline =
      start + std::chrono::milliseconds(static_cast<long long>(timeoutSeconds * 1000));
  pollfd watch{xcb_get_file_descriptor(connection), POLLIN, 0};
  for (;;) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
      const bool mapped = (event->response_type & 0x7f) == XCB_MAP_NOTIFY;
      const xcb_window_t window =
          mapped ? reinterpret_cast<xcb_map_notify_event_t*>(event)->window : 0;
      std::free(event);
      if (!mapped) continue;
      const Clock::time_point shown = Clock::now();
      std::string name = Property(connection, window, netWmName);
      if (name.empty()) name = Property(connection, window, XCB_ATOM_WM_NAME);
      if (name != title) continue;
      const double ms = std::chrono::duration<double, std::milli>(shown - start).count();
      std::printf("%.1f\n", ms);
      std::fflush(stdout);
      EndChild(child);
      xcb_disconnect(connection);
      return 0;
    }
    if (xcb_connection_has_error(connection)) break;
    if (waitpid(child, nullptr, WNOHANG) == child) {
      std::fprintf(stderr, "bench_startup_probe: the program ended before its window showed\n");
      xcb_disconnect(connection);
      return 1;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    // Short slices, so that an early end of the program is noticed.
    poll(&watch, 1, static_cast<int>(std::min<long long>(left.count(), 50)));
  }
  std::fprintf(stderr, "bench_startup_probe: no window titled %s in time\n", title.c_str());
  EndChild(child);
  xcb_disconnect(connection);
  return 1;
}
