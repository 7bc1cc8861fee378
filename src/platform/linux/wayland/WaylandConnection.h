#pragma once

// A private connection to the Wayland compositor for a back end's worker
// thread: made without blocking on a compositor that accepts nothing, and
// served until it breaks or the thread is told to stop.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "platform/linux/common/WorkerThread.h"

struct wl_display;

namespace velmora::linuxos {

// The compositor's socket: display (a WAYLAND_DISPLAY value, "wayland-0"
// when none) as an absolute path or under runtimeDir; none when a relative
// name has no runtime folder to live in.
std::optional<std::string> waylandSocketPath(std::optional<std::string> display,
                                             const std::optional<std::string>& runtimeDir);

// display: a WAYLAND_DISPLAY value; none takes the process environment's.
// Null when the compositor cannot be reached within limit.
wl_display* connectWayland(const std::optional<std::string>& display, WorkerThread& worker,
                           std::chrono::milliseconds limit = std::chrono::seconds(5));

// Reads and dispatches events until the connection breaks or the worker is
// told to stop; afterEvents runs after each batch dispatched.
void serveWayland(wl_display* display, WorkerThread& worker, const std::function<void()>& afterEvents = nullptr);

}  // namespace velmora::linuxos
