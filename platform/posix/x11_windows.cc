#include "platform/posix/x11_windows.h"

#include <stdlib.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>

namespace updater {

namespace {

struct FreeDeleter {
  void operator()(void* p) const { free(p); }
};
template <class Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeDeleter>;

// Enough for any title; a longer one is cut and so does not match.
constexpr uint32_t kMaxPropertyWords = 4096;

std::string Latin1ToUtf8(const std::string& latin1) {
  std::string utf8;
  for (unsigned char c : latin1) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else {
      utf8 += static_cast<char>(0xC0 | (c >> 6));
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return utf8;
}

std::string ThisHost() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return std::string();
  return name;
}

}  // namespace

struct X11Display::Connection {
  xcb_connection_t* link = nullptr;
  xcb_window_t root = 0;
  xcb_atom_t clientList = XCB_ATOM_NONE;
  xcb_atom_t netWmName = XCB_ATOM_NONE;
  xcb_atom_t netWmPid = XCB_ATOM_NONE;
  xcb_atom_t utf8String = XCB_ATOM_NONE;
  ~Connection() {
    if (link != nullptr) xcb_disconnect(link);
  }
};

std::unique_ptr<X11Display> X11Display::Open() {
  const char* display = getenv("DISPLAY");
  if (display == nullptr || *display == '\0') return nullptr;
  auto connection = std::make_unique<Connection>();
  int screenNumber = 0;
  connection->link = xcb_connect(display, &screenNumber);
  if (xcb_connection_has_error(connection->link)) return nullptr;
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection->link));
  for (int i = 0; i < screenNumber && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem <= 0) return nullptr;
  connection->root = screens.data->root;

  const char* const names[] = {"_NET_CLIENT_LIST", "_NET_WM_NAME", "_NET_WM_PID", "UTF8_STRING"};
  xcb_atom_t* const atoms[] = {&connection->clientList, &connection->netWmName,
                               &connection->netWmPid, &connection->utf8String};
  xcb_intern_atom_cookie_t cookies[4];
  for (int i = 0; i < 4; ++i) {
    cookies[i] = xcb_intern_atom(connection->link, 0, static_cast<uint16_t>(strlen(names[i])), names[i]);
  }
  for (int i = 0; i < 4; ++i) {
    ReplyPtr<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection->link, cookies[i], nullptr));
    if (!reply) return nullptr;
    *atoms[i] = reply->atom;
  }
  return std::unique_ptr<X11Display>(new X11Display(std::move(connection)));
}

X11Display::X11Display(std::unique_ptr<Connection> connection) : connection_(std::move(connection)) {}
X11Display::~X11Display() = default;

std::vector<TopLevelWindow> X11Display::TopLevelWindows() {
  xcb_connection_t* link = connection_->link;
  std::vector<xcb_window_t> windows;
  {
    ReplyPtr<xcb_get_property_reply_t> list(xcb_get_property_reply(
        link,
        xcb_get_property(link, 0, connection_->root, connection_->clientList, XCB_ATOM_WINDOW, 0,
                         65536),
        nullptr));
    if (list && list->format == 32 && xcb_get_property_value_length(list.get()) > 0) {
      const auto* ids = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
      windows.assign(ids, ids + xcb_get_property_value_length(list.get()) / 4);
    }
  }
  if (windows.empty()) {
    ReplyPtr<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(link, xcb_query_tree(link, connection_->root), nullptr));
    if (!tree) return {};
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    // Children come bottom first; a search by title starts at the top.
    windows.assign(children, children + xcb_query_tree_children_length(tree.get()));
    std::reverse(windows.begin(), windows.end());
    // Toolkits keep never-mapped helper windows at the top level; GTK's
    // leader window carries the program's name as its title, so counting it
    // would make every GTK program "a window titled its executable's name"
    // and end the topmost one instead of the first in the process list.
    std::vector<xcb_get_window_attributes_cookie_t> attributes;
    attributes.reserve(windows.size());
    for (xcb_window_t w : windows) attributes.push_back(xcb_get_window_attributes(link, w));
    std::vector<xcb_window_t> mapped;
    for (std::size_t i = 0; i < windows.size(); ++i) {
      ReplyPtr<xcb_get_window_attributes_reply_t> state(
          xcb_get_window_attributes_reply(link, attributes[i], nullptr));
      if (state && state->map_state != XCB_MAP_STATE_UNMAPPED) mapped.push_back(windows[i]);
    }
    windows.swap(mapped);
  }

  // All requests first, then the replies: one round trip, not one per window.
  struct Pending {
    xcb_get_property_cookie_t netName, name, pid, machine;
  };
  std::vector<Pending> pending;
  pending.reserve(windows.size());
  for (xcb_window_t w : windows) {
    pending.push_back({
        xcb_get_property(link, 0, w, connection_->netWmName, connection_->utf8String, 0, kMaxPropertyWords),
        xcb_get_property(link, 0, w, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxPropertyWords),
        xcb_get_property(link, 0, w, connection_->netWmPid, XCB_ATOM_CARDINAL, 0, 1),
        xcb_get_property(link, 0, w, XCB_ATOM_WM_CLIENT_MACHINE, XCB_GET_PROPERTY_TYPE_ANY, 0, 64),
    });
  }
  const std::string host = ThisHost();
  std::vector<TopLevelWindow> result;
  result.reserve(windows.size());
  auto text = [](const ReplyPtr<xcb_get_property_reply_t>& reply) {
    if (!reply || reply->format != 8) return std::string();
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<size_t>(xcb_get_property_value_length(reply.get())));
  };
  for (const Pending& p : pending) {
    // A reply is null when the window has gone meanwhile; its error is
    // dropped with it.
    ReplyPtr<xcb_get_property_reply_t> netName(xcb_get_property_reply(link, p.netName, nullptr));
    ReplyPtr<xcb_get_property_reply_t> name(xcb_get_property_reply(link, p.name, nullptr));
    ReplyPtr<xcb_get_property_reply_t> pid(xcb_get_property_reply(link, p.pid, nullptr));
    ReplyPtr<xcb_get_property_reply_t> machine(xcb_get_property_reply(link, p.machine, nullptr));
    TopLevelWindow window;
    window.title = text(netName);
    if (window.title.empty()) {
      window.title = text(name);
      // STRING is Latin-1; the other encodings agree with UTF-8 on ASCII,
      // which is all that a product's title needs.
      if (name && name->type == XCB_ATOM_STRING) window.title = Latin1ToUtf8(window.title);
    }
    if (pid && pid->format == 32 && xcb_get_property_value_length(pid.get()) == 4) {
      window.pid = static_cast<pid_t>(*static_cast<const uint32_t*>(xcb_get_property_value(pid.get())));
    }
    // A process id means something only on the host that runs the client.
    const std::string clientHost = text(machine);
    if (!clientHost.empty() && clientHost.c_str() != host) window.pid = 0;
    result.push_back(std::move(window));
  }
  return result;
}

}  // namespace updater
