#include "host/ui/WindowActivation.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace host {

namespace {

struct FreeReply {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeReply>;

xcb_connection_t* Connection() {
  if (!HasX11()) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
  Reply<xcb_intern_atom_reply_t> reply(
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr));
  return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The 32-bit values of a property (at most `most`).
std::vector<uint32_t> Cardinals(xcb_connection_t* c, xcb_window_t w, xcb_atom_t property, xcb_atom_t type,
                                uint32_t most) {
  Reply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, type, 0, most), nullptr));
  if (!reply || reply->format != 32) return {};
  const int n = xcb_get_property_value_length(reply.get()) / 4;
  const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
  return std::vector<uint32_t>(values, values + std::max(n, 0));
}

// WM_CLASS: the instance and class names, each ended by a NUL.
std::vector<std::string> ClassNames(xcb_connection_t* c, xcb_window_t w) {
  Reply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(c, xcb_get_property(c, 0, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr));
  std::vector<std::string> names;
  if (!reply || reply->format != 8) return names;
  const int length = xcb_get_property_value_length(reply.get());
  const char* text = static_cast<const char*>(xcb_get_property_value(reply.get()));
  std::string current;
  for (int i = 0; i < length; ++i) {
    if (text[i] == '\0') {
      names.push_back(current);
      current.clear();
    } else {
      current += text[i];
    }
  }
  if (!current.empty()) names.push_back(current);
  return names;
}

bool Viewable(xcb_connection_t* c, xcb_window_t w) {
  Reply<xcb_get_window_attributes_reply_t> a(
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr));
  return a && a->map_state == XCB_MAP_STATE_VIEWABLE;
}

std::string Lower(std::string s) {
  for (char& ch : s) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

// The windows the window manager manages, else the root window's children
// (no window manager: top-level windows are the root's children).
std::vector<xcb_window_t> TopLevelWindows(xcb_connection_t* c, xcb_window_t root) {
  const xcb_atom_t clientList = Atom(c, "_NET_CLIENT_LIST");
  std::vector<uint32_t> managed =
      clientList != XCB_ATOM_NONE ? Cardinals(c, root, clientList, XCB_ATOM_WINDOW, 4096) : std::vector<uint32_t>{};
  if (!managed.empty()) return std::vector<xcb_window_t>(managed.begin(), managed.end());
  Reply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, root), nullptr));
  if (!tree) return {};
  const xcb_window_t* children = xcb_query_tree_children(tree.get());
  return std::vector<xcb_window_t>(children, children + xcb_query_tree_children_length(tree.get()));
}

}  // namespace

bool HasX11() { return qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb"); }

ActivationResult ActivateProgramWindow(int64_t pid, const std::vector<std::string>& names) {
  xcb_connection_t* c = Connection();
  if (!c) return ActivationResult::kNoWindowSystem;
  const xcb_setup_t* setup = xcb_get_setup(c);
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
  if (!screens.rem) return ActivationResult::kNoWindowSystem;
  const xcb_window_t root = screens.data->root;
  const xcb_atom_t wmPid = Atom(c, "_NET_WM_PID");
  const xcb_atom_t active = Atom(c, "_NET_ACTIVE_WINDOW");
  if (active == XCB_ATOM_NONE) return ActivationResult::kNoWindowSystem;

  std::vector<std::string> wanted;
  for (const std::string& n : names) wanted.push_back(Lower(n));
  xcb_window_t byPid = XCB_WINDOW_NONE, byName = XCB_WINDOW_NONE;
  for (xcb_window_t w : TopLevelWindows(c, root)) {
    // A program's hidden helper windows are never what the user looks for.
    if (!Viewable(c, w)) continue;
    if (pid > 0 && byPid == XCB_WINDOW_NONE && wmPid != XCB_ATOM_NONE) {
      const std::vector<uint32_t> value = Cardinals(c, w, wmPid, XCB_ATOM_CARDINAL, 1);
      if (!value.empty() && int64_t(value[0]) == pid) byPid = w;
    }
    if (byName == XCB_WINDOW_NONE && !wanted.empty()) {
      for (const std::string& n : ClassNames(c, w))
        if (std::find(wanted.begin(), wanted.end(), Lower(n)) != wanted.end()) byName = w;
    }
  }
  const xcb_window_t target = byPid != XCB_WINDOW_NONE ? byPid : byName;
  if (target == XCB_WINDOW_NONE) return ActivationResult::kNoWindow;

  // Sent to the root window, where the window manager listens for it.
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = target;
  event.type = active;
  event.data.data32[0] = 2;  // the request comes from a pager-like tool, on the user's behalf
  event.data.data32[1] = XCB_CURRENT_TIME;
  event.data.data32[2] = XCB_WINDOW_NONE;
  xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&event));
  xcb_flush(c);
  return ActivationResult::kAsked;
}

}  // namespace host
