#pragma once

// One connection to the X server and what it shows, kept current by the
// server's events rather than asked for on every read: PropertyNotify on the
// root for the stacking list, the active window and the current desktop;
// StructureNotify and PropertyNotify on each managed window and
// StructureNotify on the frames the window manager put around them; RandR
// notifications for the monitors. After each burst of events the changed
// windows alone are read again and a new snapshot is published, so reading
// the window list costs no round trip. Runs on the X back end's thread only.

#include <xcb/xcb.h>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/Screens.h"
#include "platform/Windows.h"
#include "platform/linux/common/WorkerThread.h"
#include "platform/linux/proc/ProcFs.h"
#include "platform/linux/x11/XcbReplies.h"

namespace velmora::linuxos {

struct X11Snapshot {
  std::vector<WindowListEntry> windows;  // managed windows, front to back
  std::map<Pid, std::string> owners;     // pid → window class of each window's owner
  std::vector<PlatformScreen> screens;
};

class X11Watch {
 public:
  // publish gets each new snapshot, with whether its screens changed.
  using Publish = std::function<void(std::shared_ptr<const X11Snapshot>, bool screensChanged)>;

  X11Watch(xcb_connection_t* c, int screenNumber, WorkerThread& worker, Publish publish);
  X11Watch(const X11Watch&) = delete;
  X11Watch& operator=(const X11Watch&) = delete;

  // Learns atoms and extensions, selects the root's events and publishes a
  // first snapshot; false when the connection is not usable.
  bool start();
  // Follows events until the connection breaks, the server hangs or the
  // worker is told to stop.
  void serve();

 private:
  struct Tracked {
    WindowReplies replies;
    std::optional<PropertyReply> wmClass;
    // The windows between it and the root (its frame), nearest first.
    std::vector<xcb_window_t> ancestors;
    bool ancestorsKnown = false;
  };
  struct Atoms {
    xcb_atom_t stacking = XCB_NONE, activeWindow = XCB_NONE, currentDesktop = XCB_NONE;
    xcb_atom_t wmPid = XCB_NONE, wmState = XCB_NONE, wmStateHidden = XCB_NONE, wmDesktop = XCB_NONE;
    xcb_atom_t gtkFrameExtents = XCB_NONE, edid = XCB_NONE;
  };

  void internAtoms();
  void queryExtensions();
  void selectRootEvents();
  void handle(const xcb_generic_event_t* event);
  void touch(xcb_window_t window);
  bool dirty() const;
  void refresh();
  void readStack();
  void track(xcb_window_t window);
  void untrack(xcb_window_t window);
  void findAncestors();
  void readWindows();
  void lookUpSandboxPid(WindowReplies& window);
  std::shared_ptr<const X11Snapshot> snapshot() const;

  xcb_connection_t* c_;
  int screenNumber_;
  WorkerThread& worker_;
  Publish publish_;
  XcbReplies replies_;
  xcb_window_t root_ = XCB_NONE;
  Atoms atoms_;
  std::uint8_t randrEventBase_ = 0;
  bool monitors_ = false;  // RandR 1.5
  bool res_ = false;       // X-Resource 1.2

  // Without an EWMH window manager, the top-level windows are the root's
  // children, followed through SubstructureNotify on the root.
  std::optional<bool> ewmh_;
  std::vector<xcb_window_t> order_;  // top first
  std::optional<std::uint32_t> currentDesktop_;
  std::map<xcb_window_t, Tracked> windows_;
  std::map<xcb_window_t, xcb_window_t> clientOfAncestor_;
  std::vector<PlatformScreen> screens_;

  bool stackDirty_ = true;
  bool screensDirty_ = true;
  bool listDirty_ = true;
  std::set<xcb_window_t> dirtyWindows_;

  // (client pid, _NET_WM_PID) → the client's pid inside its namespace. A
  // pair stays true while the client's connection, and so its pid, lives.
  ProcFs proc_;
  std::map<std::pair<std::uint32_t, std::uint32_t>, std::optional<std::uint32_t>> sandboxPids_;
};

}  // namespace velmora::linuxos
