#include "platform/linux/x11/X11Watch.h"

#include <xcb/randr.h>
#include <xcb/res.h>

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/linux/x11/X11Monitors.h"

namespace velmora::linuxos {

namespace {

constexpr std::uint32_t kMaxListLongs = 1u << 16;
// Frames deeper than this are not a window manager's.
constexpr int kMaxAncestors = 8;
constexpr std::uint32_t kWindowEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
constexpr std::uint32_t kFrameEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY;

void selectEvents(xcb_connection_t* c, xcb_window_t window, std::uint32_t mask) {
  xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
}

template <typename Event>
xcb_window_t windowOf(const xcb_generic_event_t* event, xcb_window_t* eventWindow) {
  const auto* e = reinterpret_cast<const Event*>(event);
  *eventWindow = e->event;
  return e->window;
}

// The window a structure event is about, and the window it was selected on.
std::optional<xcb_window_t> subjectOf(const xcb_generic_event_t* event, std::uint8_t type, xcb_window_t* eventWindow) {
  switch (type) {
    case XCB_CONFIGURE_NOTIFY:
      return windowOf<xcb_configure_notify_event_t>(event, eventWindow);
    case XCB_MAP_NOTIFY:
      return windowOf<xcb_map_notify_event_t>(event, eventWindow);
    case XCB_UNMAP_NOTIFY:
      return windowOf<xcb_unmap_notify_event_t>(event, eventWindow);
    case XCB_REPARENT_NOTIFY:
      return windowOf<xcb_reparent_notify_event_t>(event, eventWindow);
    case XCB_DESTROY_NOTIFY:
      return windowOf<xcb_destroy_notify_event_t>(event, eventWindow);
    case XCB_CIRCULATE_NOTIFY:
      return windowOf<xcb_circulate_notify_event_t>(event, eventWindow);
    case XCB_CREATE_NOTIFY: {
      const auto* e = reinterpret_cast<const xcb_create_notify_event_t*>(event);
      *eventWindow = e->parent;
      return e->window;
    }
    default:
      return std::nullopt;
  }
}

// One X-Resource request for the owning clients of windows. The reply names
// each client by its resource base, the bits a window id shares with every
// other resource of the client that made it.
std::map<std::uint32_t, std::uint32_t> clientPids(xcb_connection_t* c, XcbReplies& replies,
                                                  const std::vector<xcb_window_t>& windows) {
  std::map<std::uint32_t, std::uint32_t> pids;
  if (windows.empty()) return pids;
  std::vector<xcb_res_client_id_spec_t> specs;
  for (const xcb_window_t w : windows)
    specs.push_back({w, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID});
  const auto cookie = xcb_res_query_client_ids(c, static_cast<std::uint32_t>(specs.size()), specs.data());
  const auto reply = replies.take<xcb_res_query_client_ids_reply_t>(cookie.sequence);
  if (!reply) return pids;
  for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem; xcb_res_client_id_value_next(&it)) {
    const auto& [clientId, length] = *it.data;
    if ((clientId.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) && length >= 1 &&
        xcb_res_client_id_value_value_length(it.data) >= 1)
      pids[clientId.client] = *xcb_res_client_id_value_value(it.data);
  }
  return pids;
}

}  // namespace

X11Watch::X11Watch(xcb_connection_t* c, int screenNumber, WorkerThread& worker, Publish publish)
    : c_(c), screenNumber_(screenNumber), worker_(worker), publish_(std::move(publish)), replies_(c, worker) {}

bool X11Watch::start() {
  auto roots = xcb_setup_roots_iterator(xcb_get_setup(c_));
  for (int i = 0; i < screenNumber_ && roots.rem; ++i)
    xcb_screen_next(&roots);
  if (!roots.rem) return false;
  root_ = roots.data->root;
  internAtoms();
  queryExtensions();
  selectRootEvents();
  refresh();
  return !replies_.failed() && !xcb_connection_has_error(c_);
}

void X11Watch::internAtoms() {
  struct Slot {
    const char* name;
    xcb_atom_t* atom;
    xcb_intern_atom_cookie_t cookie{};
  };
  Slot slots[] = {
      {"_NET_CLIENT_LIST_STACKING", &atoms_.stacking},
      {"_NET_ACTIVE_WINDOW", &atoms_.activeWindow},
      {"_NET_CURRENT_DESKTOP", &atoms_.currentDesktop},
      {"_NET_WM_PID", &atoms_.wmPid},
      {"_NET_WM_STATE", &atoms_.wmState},
      {"_NET_WM_STATE_HIDDEN", &atoms_.wmStateHidden},
      {"_NET_WM_DESKTOP", &atoms_.wmDesktop},
      {"_GTK_FRAME_EXTENTS", &atoms_.gtkFrameExtents},
      {"EDID", &atoms_.edid},
  };
  for (auto& slot : slots)
    slot.cookie = xcb_intern_atom(c_, 0, static_cast<std::uint16_t>(std::strlen(slot.name)), slot.name);
  for (auto& slot : slots)
    if (auto reply = replies_.take<xcb_intern_atom_reply_t>(slot.cookie.sequence)) *slot.atom = reply->atom;
}

void X11Watch::queryExtensions() {
  xcb_prefetch_extension_data(c_, &xcb_randr_id);
  xcb_prefetch_extension_data(c_, &xcb_res_id);
  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c_, &xcb_randr_id);
  const xcb_query_extension_reply_t* res = xcb_get_extension_data(c_, &xcb_res_id);
  if (randr && randr->present) {
    const auto version = replies_.take<xcb_randr_query_version_reply_t>(xcb_randr_query_version(c_, 1, 5).sequence);
    monitors_ = version && (version->major_version > 1 || version->minor_version >= 5);
    randrEventBase_ = randr->first_event;
    xcb_randr_select_input(c_, root_,
                           XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                               XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE | XCB_RANDR_NOTIFY_MASK_OUTPUT_PROPERTY |
                               XCB_RANDR_NOTIFY_MASK_RESOURCE_CHANGE);
  }
  if (res && res->present) {
    const auto version = replies_.take<xcb_res_query_version_reply_t>(xcb_res_query_version(c_, 1, 2).sequence);
    res_ = version && (version->server_major > 1 || version->server_minor >= 2);
  }
}

// Monitors set by a client (RRSetMonitor) are announced only by a
// ConfigureNotify on the root, not by a RandR event.
void X11Watch::selectRootEvents() {
  std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  if (ewmh_ == false) mask |= XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  selectEvents(c_, root_, mask);
}

void X11Watch::serve() {
  pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
  for (;;) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
      handle(event);
      std::free(event);
    }
    if (xcb_connection_has_error(c_) || worker_.stopping()) return;
    if (dirty()) {
      // Replies awaited here may bring events along; they are handled next.
      refresh();
      if (replies_.failed()) return;
      continue;
    }
    if (worker_.wait({&fd, 1}, std::nullopt) == WorkerThread::Wake::stop) return;
  }
}

void X11Watch::handle(const xcb_generic_event_t* event) {
  const std::uint8_t type = event->response_type & 0x7F;
  // Errors: requests about windows that vanished meanwhile.
  if (type == 0) return;
  if (randrEventBase_ != 0 &&
      (type == randrEventBase_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == randrEventBase_ + XCB_RANDR_NOTIFY)) {
    screensDirty_ = true;
    return;
  }
  if (type == XCB_PROPERTY_NOTIFY) {
    const auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (e->window == root_) {
      if (e->atom == atoms_.stacking || e->atom == atoms_.activeWindow) stackDirty_ = true;
      if (e->atom == atoms_.currentDesktop) stackDirty_ = true;
    } else if (e->atom == atoms_.wmPid || e->atom == atoms_.wmState || e->atom == atoms_.wmDesktop ||
               e->atom == atoms_.gtkFrameExtents || e->atom == XCB_ATOM_WM_CLASS) {
      touch(e->window);
    }
    return;
  }
  xcb_window_t eventWindow = XCB_NONE;
  const auto window = subjectOf(event, type, &eventWindow);
  if (!window) return;
  if (*window == root_) {
    screensDirty_ = true;
    return;
  }
  // Without a window manager the root's children come, go and restack.
  if (ewmh_ == false && eventWindow == root_) stackDirty_ = true;
  if (type == XCB_DESTROY_NOTIFY && windows_.contains(*window)) stackDirty_ = true;
  if (type == XCB_REPARENT_NOTIFY)
    if (auto it = windows_.find(*window); it != windows_.end()) it->second.ancestorsKnown = false;
  touch(*window);
}

void X11Watch::touch(xcb_window_t window) {
  if (windows_.contains(window))
    dirtyWindows_.insert(window);
  else if (auto it = clientOfAncestor_.find(window); it != clientOfAncestor_.end())
    dirtyWindows_.insert(it->second);
}

bool X11Watch::dirty() const {
  return stackDirty_ || screensDirty_ || !dirtyWindows_.empty();
}

void X11Watch::refresh() {
  bool screensChanged = false;
  if (screensDirty_) {
    screensDirty_ = false;
    auto screens = monitors_ ? readMonitors(c_, replies_, root_, atoms_.edid) : std::vector<PlatformScreen>{};
    screensChanged = screens != screens_;
    screens_ = std::move(screens);
    listDirty_ = true;
  }
  if (stackDirty_) readStack();
  findAncestors();
  readWindows();
  if (replies_.failed() || !listDirty_) return;
  listDirty_ = false;
  publish_(snapshot(), screensChanged);
}

void X11Watch::readStack() {
  stackDirty_ = false;
  listDirty_ = true;
  const auto stackingCookie = replies_.askProperty(root_, atoms_.stacking, kMaxListLongs);
  const auto desktopCookie = replies_.askProperty(root_, atoms_.currentDesktop, 1);
  const auto treeCookie = xcb_query_tree(c_, root_);
  const auto stacking = items32(replies_.takeProperty(stackingCookie), kAtomWindow);
  const auto desktop = items32(replies_.takeProperty(desktopCookie), kAtomCardinal);
  auto tree = replies_.take<xcb_query_tree_reply_t>(treeCookie.sequence);
  if (replies_.failed()) return;
  currentDesktop_.reset();
  if (desktop && !desktop->empty()) currentDesktop_ = desktop->front();

  std::vector<xcb_window_t> bottomFirst;
  if (stacking) {
    bottomFirst = *stacking;
  } else if (tree) {
    const xcb_window_t* children = xcb_query_tree_children(tree.get());
    bottomFirst.assign(children, children + xcb_query_tree_children_length(tree.get()));
  }
  if (ewmh_ != stacking.has_value()) {
    ewmh_ = stacking.has_value();
    selectRootEvents();
  }
  order_ = topFirst(std::move(bottomFirst));

  const std::set<xcb_window_t> listed(order_.begin(), order_.end());
  std::vector<xcb_window_t> gone;
  for (const auto& [window, tracked] : windows_)
    if (!listed.contains(window)) gone.push_back(window);
  for (const xcb_window_t window : gone)
    untrack(window);
  for (const xcb_window_t window : order_)
    if (!windows_.contains(window)) track(window);
}

// Selected before it is read, so no change falls between the read and the
// first event.
void X11Watch::track(xcb_window_t window) {
  selectEvents(c_, window, kWindowEvents);
  windows_[window].replies.window = window;
  dirtyWindows_.insert(window);
}

void X11Watch::untrack(xcb_window_t window) {
  const auto it = windows_.find(window);
  for (const xcb_window_t ancestor : it->second.ancestors) {
    clientOfAncestor_.erase(ancestor);
    selectEvents(c_, ancestor, 0);
  }
  selectEvents(c_, window, 0);
  windows_.erase(it);
  dirtyWindows_.erase(window);
}

// Walks up from each window whose frame is not known yet, one round trip a
// level for all of them, and follows each frame's moves.
void X11Watch::findAncestors() {
  std::map<xcb_window_t, xcb_window_t> walking;  // window → the window to ask next
  for (auto& [window, tracked] : windows_) {
    if (tracked.ancestorsKnown) continue;
    tracked.ancestorsKnown = true;
    for (const xcb_window_t ancestor : tracked.ancestors) {
      clientOfAncestor_.erase(ancestor);
      selectEvents(c_, ancestor, 0);
    }
    tracked.ancestors.clear();
    walking[window] = window;
    dirtyWindows_.insert(window);
  }
  for (int level = 0; level < kMaxAncestors && !walking.empty(); ++level) {
    std::vector<std::pair<xcb_window_t, xcb_query_tree_cookie_t>> asked;
    for (const auto& [window, next] : walking)
      asked.emplace_back(window, xcb_query_tree(c_, next));
    walking.clear();
    for (const auto& [window, cookie] : asked) {
      const auto tree = replies_.take<xcb_query_tree_reply_t>(cookie.sequence);
      if (!tree || tree->parent == root_ || tree->parent == XCB_NONE) continue;
      selectEvents(c_, tree->parent, kFrameEvents);
      windows_[window].ancestors.push_back(tree->parent);
      clientOfAncestor_[tree->parent] = window;
      walking[window] = tree->parent;
    }
  }
}

void X11Watch::readWindows() {
  if (dirtyWindows_.empty()) return;
  listDirty_ = true;
  const std::vector<xcb_window_t> windows(dirtyWindows_.begin(), dirtyWindows_.end());
  dirtyWindows_.clear();
  struct Pending {
    xcb_get_window_attributes_cookie_t attributes;
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_property_cookie_t pid, state, desktop, extents, wmClass;
  };
  std::vector<Pending> pending;
  for (const xcb_window_t w : windows)
    pending.push_back({xcb_get_window_attributes(c_, w), xcb_get_geometry(c_, w),
                       xcb_translate_coordinates(c_, w, root_, 0, 0), replies_.askProperty(w, atoms_.wmPid, 1),
                       replies_.askProperty(w, atoms_.wmState, 64), replies_.askProperty(w, atoms_.wmDesktop, 1),
                       replies_.askProperty(w, atoms_.gtkFrameExtents, 4),
                       replies_.askProperty(w, XCB_ATOM_WM_CLASS, 256)});
  const auto owners = res_ ? clientPids(c_, replies_, windows) : std::map<std::uint32_t, std::uint32_t>{};
  const std::uint32_t idMask = xcb_get_setup(c_)->resource_id_mask;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    const Pending& p = pending[i];
    WindowReplies r;
    r.window = windows[i];
    if (auto a = replies_.take<xcb_get_window_attributes_reply_t>(p.attributes.sequence))
      r.viewable = a->map_state == XCB_MAP_STATE_VIEWABLE;
    if (auto g = replies_.take<xcb_get_geometry_reply_t>(p.geometry.sequence)) {
      r.width = g->width;
      r.height = g->height;
    }
    if (auto t = replies_.take<xcb_translate_coordinates_reply_t>(p.origin.sequence)) {
      r.rootX = t->dst_x;
      r.rootY = t->dst_y;
    }
    r.netWmPid = replies_.takeProperty(p.pid);
    r.netWmState = replies_.takeProperty(p.state);
    r.netWmDesktop = replies_.takeProperty(p.desktop);
    r.gtkFrameExtents = replies_.takeProperty(p.extents);
    auto wmClass = replies_.takeProperty(p.wmClass);
    if (const auto owner = owners.find(windows[i] & ~idMask); owner != owners.end()) r.clientPid = owner->second;
    lookUpSandboxPid(r);
    if (auto it = windows_.find(windows[i]); it != windows_.end()) {
      it->second.replies = std::move(r);
      it->second.wmClass = std::move(wmClass);
    }
  }
}

void X11Watch::lookUpSandboxPid(WindowReplies& window) {
  const auto claimed = items32(window.netWmPid, kAtomCardinal);
  if (!window.clientPid || !claimed || claimed->empty() || (*claimed)[0] == *window.clientPid) return;
  if (*window.clientPid > static_cast<std::uint32_t>(std::numeric_limits<Pid>::max())) return;
  const std::pair key{*window.clientPid, (*claimed)[0]};
  auto it = sandboxPids_.find(key);
  if (it == sandboxPids_.end()) {
    constexpr std::size_t kMaxRemembered = 128;
    if (sandboxPids_.size() >= kMaxRemembered) sandboxPids_.clear();
    std::optional<std::uint32_t> inside;
    if (const auto pid = proc_.innermostPid(static_cast<Pid>(*window.clientPid)))
      inside = static_cast<std::uint32_t>(*pid);
    it = sandboxPids_.emplace(key, inside).first;
  }
  window.clientPidInsideSandbox = it->second;
}

std::shared_ptr<const X11Snapshot> X11Watch::snapshot() const {
  auto snapshot = std::make_shared<X11Snapshot>();
  const DesktopState desktop{currentDesktop_, atoms_.wmStateHidden};
  for (const xcb_window_t window : order_) {
    const auto it = windows_.find(window);
    if (it == windows_.end()) continue;
    const Tracked& tracked = it->second;
    if (auto entry = windowEntry(tracked.replies, desktop)) snapshot->windows.push_back(std::move(*entry));
    const auto pid = windowOwnerPid(tracked.replies);
    if (!pid || *pid > static_cast<std::uint32_t>(std::numeric_limits<Pid>::max())) continue;
    auto& name = snapshot->owners[static_cast<Pid>(*pid)];
    if (name.empty()) name = windowClassName(tracked.wmClass).value_or("");
  }
  snapshot->screens = screens_;
  return snapshot;
}

}  // namespace velmora::linuxos
