#include "platform/linux/x11/X11Client.h"

#include <xcb/randr.h>
#include <xcb/res.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "platform/Log.h"
#include "platform/ThreadStart.h"
#include "platform/linux/x11/ScreenRules.h"
#include "platform/linux/x11/WindowRules.h"

namespace velmora::linuxos {

namespace {

const Logger& platformLog() {
  static const Logger logger(kVelmoraSubsystem, "Platform");
  return logger;
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

// Takes a reply and drops the error that comes instead of it.
template <typename T, typename F, typename Cookie>
Reply<T> take(F replyFunction, xcb_connection_t* c, Cookie cookie) {
  xcb_generic_error_t* error = nullptr;
  Reply<T> reply(replyFunction(c, cookie, &error));
  std::free(error);
  return reply;
}

std::optional<PropertyReply> takeProperty(xcb_connection_t* c, xcb_get_property_cookie_t cookie,
                                          bool* failed = nullptr) {
  auto reply = take<xcb_get_property_reply_t>(xcb_get_property_reply, c, cookie);
  if (!reply) {
    if (failed) *failed = true;
    return std::nullopt;
  }
  if (reply->type == XCB_ATOM_NONE) return std::nullopt;
  const auto* bytes = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
  const int length = xcb_get_property_value_length(reply.get());
  PropertyReply property{reply->type, reply->format, {}};
  if (bytes && length > 0) property.data.assign(bytes, bytes + length);
  return property;
}

xcb_get_property_cookie_t askProperty(xcb_connection_t* c, xcb_window_t window, xcb_atom_t atom, std::uint32_t longs) {
  return xcb_get_property(c, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, longs);
}

// One X-Resource request for the owning clients of all windows of a read. The
// reply names each client by its resource base, the bits a window id shares
// with every other resource of the client that made it.
std::optional<xcb_res_query_client_ids_cookie_t> askClientPids(xcb_connection_t* c,
                                                               const std::vector<std::uint32_t>& windows) {
  if (windows.empty()) return std::nullopt;
  std::vector<xcb_res_client_id_spec_t> specs;
  specs.reserve(windows.size());
  for (std::uint32_t w : windows)
    specs.push_back({w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID});
  return xcb_res_query_client_ids(c, static_cast<std::uint32_t>(specs.size()), specs.data());
}

std::map<std::uint32_t, std::uint32_t> takeClientPids(xcb_connection_t* c,
                                                      std::optional<xcb_res_query_client_ids_cookie_t> cookie) {
  std::map<std::uint32_t, std::uint32_t> pids;
  if (!cookie) return pids;
  auto reply = take<xcb_res_query_client_ids_reply_t>(xcb_res_query_client_ids_reply, c, *cookie);
  if (!reply) return pids;
  for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem; xcb_res_client_id_value_next(&it)) {
    const auto& [clientId, length] = *it.data;
    if ((clientId.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) && length >= 1 &&
        xcb_res_client_id_value_value_length(it.data) >= 1) {
      pids[clientId.client] = *xcb_res_client_id_value_value(it.data);
    }
  }
  return pids;
}

std::optional<std::uint32_t> clientPidOf(xcb_connection_t* c, const std::map<std::uint32_t, std::uint32_t>& pids,
                                         std::uint32_t window) {
  const std::uint32_t base = window & ~xcb_get_setup(c)->resource_id_mask;
  const auto it = pids.find(base);
  if (it == pids.end()) return std::nullopt;
  return it->second;
}

constexpr std::uint32_t kMaxListLongs = 1u << 16;

}  // namespace

struct X11Client::Connection {
  // Reads go over c; the event thread waits on events alone. Sharing one
  // connection would make the waiting thread read every reply for the
  // others and wake them one by one, which costs more than the reads.
  xcb_connection_t* c = nullptr;
  xcb_connection_t* events = nullptr;
  xcb_window_t root = XCB_NONE;
  xcb_window_t wakeWindow = XCB_NONE;
  xcb_atom_t clientListStacking = XCB_NONE;
  xcb_atom_t currentDesktop = XCB_NONE;
  xcb_atom_t wmPid = XCB_NONE;
  xcb_atom_t wmState = XCB_NONE;
  xcb_atom_t wmStateHidden = XCB_NONE;
  xcb_atom_t wmDesktop = XCB_NONE;
  xcb_atom_t gtkFrameExtents = XCB_NONE;
  xcb_atom_t edid = XCB_NONE;
  bool monitors = false;  // RandR 1.5
  std::uint8_t randrEventBase = 0;
  bool res = false;  // X-Resource 1.2

  ~Connection() {
    if (c) xcb_disconnect(c);
    if (events) xcb_disconnect(events);
  }
  bool broken() const { return xcb_connection_has_error(c) != 0 || xcb_connection_has_error(events) != 0; }

  // Wakes the event thread out of xcb_wait_for_event.
  void wakeEventThread() const {
    if (xcb_connection_has_error(events)) return;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = wakeWindow;
    event.type = XCB_ATOM_NONE;
    xcb_send_event(events, 0, wakeWindow, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(events);
  }

  // Top-level windows front to back: the window manager's stacking list, or
  // the root's children without an EWMH window manager.
  std::optional<std::vector<std::uint32_t>> topLevelWindows(std::optional<std::uint32_t>* desktop) {
    const auto stackingCookie = askProperty(c, root, clientListStacking, kMaxListLongs);
    const auto desktopCookie = askProperty(c, root, currentDesktop, 1);
    const auto treeCookie = xcb_query_tree(c, root);
    bool failed = false;
    const auto stacking = items32(takeProperty(c, stackingCookie, &failed), kAtomWindow);
    const auto current = items32(takeProperty(c, desktopCookie, &failed), kAtomCardinal);
    if (desktop && current && !current->empty()) *desktop = current->front();
    if (stacking) {
      xcb_discard_reply(c, treeCookie.sequence);
      return topFirst(*stacking);
    }
    auto tree = take<xcb_query_tree_reply_t>(xcb_query_tree_reply, c, treeCookie);
    if (failed || !tree) return std::nullopt;
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    std::vector<std::uint32_t> windows(children, children + xcb_query_tree_children_length(tree.get()));
    windows.erase(std::remove(windows.begin(), windows.end(), wakeWindow), windows.end());
    return topFirst(std::move(windows));
  }
};

X11Client::X11Client(std::function<void()> onChange, std::optional<std::string> display)
    : onChange_(std::move(onChange)), display_(std::move(display)) {
  connection_ = connect();
  if (!connection_) {
    platformLog().info("X server unavailable; retrying in the background");
  }
  thread_ = std::thread([this] {
    runThreadStartHook();
    run();
  });
}

X11Client::~X11Client() {
  std::shared_ptr<Connection> connection;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
    connection = connection_;
  }
  stopped_.notify_all();
  if (connection) connection->wakeEventThread();
  thread_.join();
}

bool X11Client::lost(const std::shared_ptr<Connection>& connection) {
  if (!connection) return true;
  if (!connection->broken()) return false;
  // The event thread notices a broken event connection by itself, but not a
  // broken read connection; it drops both and reconnects.
  connection->wakeEventThread();
  return true;
}

std::shared_ptr<X11Client::Connection> X11Client::current() const {
  std::lock_guard lock(mutex_);
  return connection_;
}

bool X11Client::connected() const {
  auto connection = current();
  return connection && !connection->broken();
}

std::shared_ptr<X11Client::Connection> X11Client::connect() {
  auto conn = std::make_shared<Connection>();
  const char* name = display_ ? display_->c_str() : nullptr;
  int screenNumber = 0;
  conn->c = xcb_connect(name, &screenNumber);
  conn->events = xcb_connect(name, nullptr);
  if (!conn->c || !conn->events || conn->broken()) return nullptr;
  xcb_connection_t* c = conn->c;
  xcb_connection_t* e = conn->events;

  auto roots = xcb_setup_roots_iterator(xcb_get_setup(c));
  for (int i = 0; i < screenNumber && roots.rem; ++i)
    xcb_screen_next(&roots);
  if (!roots.rem) return nullptr;
  conn->root = roots.data->root;

  struct AtomSlot {
    const char* name;
    xcb_atom_t* slot;
    xcb_intern_atom_cookie_t cookie{};
  };
  AtomSlot atoms[] = {
      {"_NET_CLIENT_LIST_STACKING", &conn->clientListStacking},
      {"_NET_CURRENT_DESKTOP", &conn->currentDesktop},
      {"_NET_WM_PID", &conn->wmPid},
      {"_NET_WM_STATE", &conn->wmState},
      {"_NET_WM_STATE_HIDDEN", &conn->wmStateHidden},
      {"_NET_WM_DESKTOP", &conn->wmDesktop},
      {"_GTK_FRAME_EXTENTS", &conn->gtkFrameExtents},
      {"EDID", &conn->edid},
  };
  for (auto& atom : atoms)
    atom.cookie = xcb_intern_atom(c, 0, std::strlen(atom.name), atom.name);
  xcb_prefetch_extension_data(c, &xcb_randr_id);
  xcb_prefetch_extension_data(c, &xcb_res_id);
  xcb_prefetch_extension_data(e, &xcb_randr_id);

  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
  const xcb_query_extension_reply_t* res = xcb_get_extension_data(c, &xcb_res_id);
  const xcb_query_extension_reply_t* eventRandr = xcb_get_extension_data(e, &xcb_randr_id);
  std::optional<xcb_randr_query_version_cookie_t> randrVersion;
  std::optional<xcb_randr_query_version_cookie_t> eventRandrVersion;
  std::optional<xcb_res_query_version_cookie_t> resVersion;
  if (randr && randr->present) randrVersion = xcb_randr_query_version(c, 1, 5);
  if (eventRandr && eventRandr->present) eventRandrVersion = xcb_randr_query_version(e, 1, 5);
  if (res && res->present) resVersion = xcb_res_query_version(c, 1, 2);

  for (auto& atom : atoms) {
    auto reply = take<xcb_intern_atom_reply_t>(xcb_intern_atom_reply, c, atom.cookie);
    if (reply) *atom.slot = reply->atom;
  }
  if (randrVersion) {
    auto reply = take<xcb_randr_query_version_reply_t>(xcb_randr_query_version_reply, c, *randrVersion);
    conn->monitors = reply && (reply->major_version > 1 || reply->minor_version >= 5);
  }
  if (eventRandrVersion) {
    // Events come in the version the client announced, so it is asked on the
    // event connection too.
    take<xcb_randr_query_version_reply_t>(xcb_randr_query_version_reply, e, *eventRandrVersion);
    conn->randrEventBase = eventRandr->first_event;
    xcb_randr_select_input(e, conn->root,
                           XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                               XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE | XCB_RANDR_NOTIFY_MASK_OUTPUT_PROPERTY |
                               XCB_RANDR_NOTIFY_MASK_RESOURCE_CHANGE);
  }
  if (resVersion) {
    auto reply = take<xcb_res_query_version_reply_t>(xcb_res_query_version_reply, c, *resVersion);
    conn->res = reply && (reply->server_major > 1 || reply->server_minor >= 2);
  }

  // Monitors set by a client (RRSetMonitor) are announced only by a
  // ConfigureNotify on the root, not by a RandR event.
  const std::uint32_t rootEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(e, conn->root, XCB_CW_EVENT_MASK, &rootEvents);

  conn->wakeWindow = xcb_generate_id(e);
  xcb_create_window(e, 0, conn->wakeWindow, conn->root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_flush(c);
  xcb_flush(e);
  if (conn->broken()) return nullptr;
  return conn;
}

void X11Client::notify() {
  if (onChange_) onChange_();
}

void X11Client::dropIfBroken(const std::shared_ptr<Connection>& connection) {
  if (!connection->broken()) return;
  {
    std::lock_guard lock(mutex_);
    if (connection_ != connection) return;
    connection_.reset();
  }
  platformLog().info("X server connection lost; reconnecting in the background");
  notify();
}

bool X11Client::waitForStop(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return stopped_.wait_for(lock, timeout, [this] { return stop_; });
}

void X11Client::run() {
  constexpr std::chrono::milliseconds kFirstRetry{250};
  constexpr std::chrono::milliseconds kLongestRetry{2000};
  std::chrono::milliseconds retry = kFirstRetry;
  for (;;) {
    std::shared_ptr<Connection> connection;
    {
      std::lock_guard lock(mutex_);
      if (stop_) return;
      connection = connection_;
    }
    if (!connection) {
      if (waitForStop(retry)) return;
      auto fresh = connect();
      if (!fresh) {
        retry = std::min(retry * 2, kLongestRetry);
        continue;
      }
      {
        std::lock_guard lock(mutex_);
        if (stop_) return;  // the destructor no longer wakes a connection it did not see
        connection_ = fresh;
      }
      retry = kFirstRetry;
      platformLog().info("X server connection restored");
      notify();
      continue;
    }

    // Blocks until an event comes or the connection breaks.
    bool changed = false;
    for (xcb_generic_event_t* event = xcb_wait_for_event(connection->events); event;
         event = xcb_poll_for_event(connection->events)) {
      const std::uint8_t type = event->response_type & 0x7F;
      if (connection->randrEventBase != 0 && (type == connection->randrEventBase + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                                              type == connection->randrEventBase + XCB_RANDR_NOTIFY)) {
        changed = true;
      } else if (type == XCB_CONFIGURE_NOTIFY &&
                 reinterpret_cast<const xcb_configure_notify_event_t*>(event)->window == connection->root) {
        changed = true;
      }
      std::free(event);
    }
    if (changed) notify();
    dropIfBroken(connection);
  }
}

void X11Client::lookUpSandboxPid(WindowReplies& window) {
  const auto claimed = items32(window.netWmPid, kAtomCardinal);
  if (!window.clientPid || !claimed || claimed->empty() || (*claimed)[0] == *window.clientPid) return;
  if (*window.clientPid > static_cast<std::uint32_t>(std::numeric_limits<Pid>::max())) return;
  const std::pair key{*window.clientPid, (*claimed)[0]};
  std::lock_guard lock(sandboxMutex_);
  auto it = sandboxPids_.find(key);
  if (it == sandboxPids_.end()) {
    constexpr std::size_t kMaxRemembered = 128;
    if (sandboxPids_.size() >= kMaxRemembered) sandboxPids_.clear();
    std::optional<std::uint32_t> inside;
    if (const auto pid = proc_.innermostPid(static_cast<Pid>(*window.clientPid))) {
      inside = static_cast<std::uint32_t>(*pid);
    }
    it = sandboxPids_.emplace(key, inside).first;
  }
  window.clientPidInsideSandbox = it->second;
}

std::vector<PlatformScreen> X11Client::screens() {
  auto conn = current();
  if (lost(conn) || !conn->monitors) return {};
  xcb_connection_t* c = conn->c;

  auto monitors =
      take<xcb_randr_get_monitors_reply_t>(xcb_randr_get_monitors_reply, c, xcb_randr_get_monitors(c, conn->root, 1));
  if (!monitors) return {};

  struct Pending {
    MonitorReplies replies;
    xcb_get_atom_name_cookie_t name;
    std::optional<xcb_randr_get_output_property_cookie_t> edid;
  };
  std::vector<Pending> pending;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem; xcb_randr_monitor_info_next(&it)) {
    const xcb_randr_monitor_info_t* info = it.data;
    Pending p;
    p.replies.nameAtom = info->name;
    p.replies.x = info->x;
    p.replies.y = info->y;
    p.replies.width = info->width;
    p.replies.height = info->height;
    const xcb_randr_output_t* outputs = xcb_randr_monitor_info_outputs(info);
    p.replies.outputs.assign(outputs, outputs + xcb_randr_monitor_info_outputs_length(info));
    p.name = xcb_get_atom_name(c, info->name);
    // 128 longs: the base block and three extensions are more than a name needs.
    if (!p.replies.outputs.empty() && p.replies.outputs.front() != XCB_NONE) {
      p.edid = xcb_randr_get_output_property(c, p.replies.outputs.front(), conn->edid, XCB_GET_PROPERTY_TYPE_ANY, 0,
                                             128, 0, 0);
    }
    pending.push_back(std::move(p));
  }

  std::vector<PlatformScreen> screens;
  for (Pending& p : pending) {
    if (auto name = take<xcb_get_atom_name_reply_t>(xcb_get_atom_name_reply, c, p.name)) {
      p.replies.name = std::string(xcb_get_atom_name_name(name.get()), xcb_get_atom_name_name_length(name.get()));
    }
    if (p.edid) {
      auto edid = take<xcb_randr_get_output_property_reply_t>(xcb_randr_get_output_property_reply, c, *p.edid);
      if (edid && edid->format == 8) {
        const std::uint8_t* data = xcb_randr_get_output_property_data(edid.get());
        const int length = xcb_randr_get_output_property_data_length(edid.get());
        if (data && length > 0) p.replies.firstOutputEdid = std::vector<std::uint8_t>(data, data + length);
      }
    }
    screens.push_back(screenFromMonitor(p.replies));
  }
  if (lost(conn)) return {};
  return screens;
}

std::optional<std::vector<WindowListEntry>> X11Client::windows(std::optional<Pid> owner) {
  auto conn = current();
  if (lost(conn)) return std::nullopt;
  xcb_connection_t* c = conn->c;

  DesktopState desktop;
  desktop.hiddenAtom = conn->wmStateHidden;
  const auto windows = conn->topLevelWindows(&desktop.currentDesktop);
  if (!windows) return std::nullopt;

  // First who owns each window, so that only the wanted windows are asked
  // for the rest: three round trips in all, whatever the number of windows.
  std::vector<WindowReplies> replies(windows->size());
  std::vector<xcb_get_property_cookie_t> pidCookies;
  pidCookies.reserve(windows->size());
  for (std::uint32_t w : *windows)
    pidCookies.push_back(askProperty(c, w, conn->wmPid, 1));
  const auto clientIds = conn->res ? askClientPids(c, *windows) : std::nullopt;
  const auto clientPids = takeClientPids(c, clientIds);
  for (std::size_t i = 0; i < replies.size(); ++i) {
    WindowReplies& r = replies[i];
    r.window = (*windows)[i];
    r.netWmPid = takeProperty(c, pidCookies[i]);
    r.clientPid = clientPidOf(c, clientPids, r.window);
    lookUpSandboxPid(r);
  }
  if (owner) {
    std::erase_if(replies, [&](const WindowReplies& r) {
      const auto pid = windowOwnerPid(r);
      return *owner < 0 || !pid || *pid != static_cast<std::uint32_t>(*owner);
    });
  }

  struct Pending {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_property_cookie_t state, desktop, extents;
  };
  std::vector<Pending> pending;
  pending.reserve(replies.size());
  for (const WindowReplies& r : replies) {
    const std::uint32_t w = r.window;
    pending.push_back({xcb_get_window_attributes(c, w), xcb_get_geometry(c, w),
                       xcb_translate_coordinates(c, w, conn->root, 0, 0), askProperty(c, w, conn->wmState, 64),
                       askProperty(c, w, conn->wmDesktop, 1), askProperty(c, w, conn->gtkFrameExtents, 4)});
  }

  std::vector<WindowListEntry> entries;
  entries.reserve(replies.size());
  for (std::size_t i = 0; i < pending.size(); ++i) {
    const Pending& p = pending[i];
    WindowReplies& r = replies[i];
    if (auto a = take<xcb_get_window_attributes_reply_t>(xcb_get_window_attributes_reply, c, p.attributes)) {
      r.viewable = a->map_state == XCB_MAP_STATE_VIEWABLE;
    }
    if (auto g = take<xcb_get_geometry_reply_t>(xcb_get_geometry_reply, c, p.geometry)) {
      r.width = g->width;
      r.height = g->height;
    }
    if (auto t = take<xcb_translate_coordinates_reply_t>(xcb_translate_coordinates_reply, c, p.origin)) {
      r.rootX = t->dst_x;
      r.rootY = t->dst_y;
    }
    r.netWmState = takeProperty(c, p.state);
    r.netWmDesktop = takeProperty(c, p.desktop);
    r.gtkFrameExtents = takeProperty(c, p.extents);
    if (auto entry = windowEntry(r, desktop)) entries.push_back(std::move(*entry));
  }
  if (lost(conn)) return std::nullopt;
  return entries;
}

std::optional<std::map<Pid, std::string>> X11Client::windowOwners() {
  auto conn = current();
  if (lost(conn)) return std::nullopt;
  xcb_connection_t* c = conn->c;
  const auto windows = conn->topLevelWindows(nullptr);
  if (!windows) return std::nullopt;

  struct Pending {
    xcb_get_property_cookie_t pid, wmClass;
  };
  std::vector<Pending> pending;
  pending.reserve(windows->size());
  for (std::uint32_t w : *windows) {
    pending.push_back({askProperty(c, w, conn->wmPid, 1), askProperty(c, w, XCB_ATOM_WM_CLASS, 256)});
  }
  const auto clientIds = conn->res ? askClientPids(c, *windows) : std::nullopt;
  std::map<Pid, std::string> owners;
  const auto clientPids = takeClientPids(c, clientIds);
  for (std::size_t i = 0; i < pending.size(); ++i) {
    const Pending& p = pending[i];
    WindowReplies r;
    r.netWmPid = takeProperty(c, p.pid);
    const auto wmClass = takeProperty(c, p.wmClass);
    r.clientPid = clientPidOf(c, clientPids, (*windows)[i]);
    lookUpSandboxPid(r);
    const auto pid = windowOwnerPid(r);
    if (!pid || *pid > static_cast<std::uint32_t>(std::numeric_limits<Pid>::max())) continue;
    auto& name = owners[static_cast<Pid>(*pid)];
    if (name.empty()) name = windowClassName(wmClass).value_or("");
  }
  if (lost(conn)) return std::nullopt;
  return owners;
}

}  // namespace velmora::linuxos
