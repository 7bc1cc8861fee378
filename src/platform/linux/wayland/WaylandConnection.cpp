#include "platform/linux/wayland/WaylandConnection.h"

#include <wayland-client.h>

#include <cerrno>
#include <cstdlib>

#include "platform/linux/common/UnixSocket.h"

namespace velmora::linuxos {

namespace {

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

}  // namespace

std::optional<std::string> waylandSocketPath(std::optional<std::string> display,
                                             const std::optional<std::string>& runtimeDir) {
  if (!display || display->empty()) display = "wayland-0";
  if (display->front() == '/') return display;
  if (!runtimeDir || runtimeDir->empty()) return std::nullopt;
  return *runtimeDir + "/" + *display;
}

wl_display* connectWayland(const std::optional<std::string>& display, WorkerThread& worker,
                           std::chrono::milliseconds limit) {
  const auto path =
      waylandSocketPath(display ? display : environment("WAYLAND_DISPLAY"), environment("XDG_RUNTIME_DIR"));
  if (!path) return nullptr;
  UniqueFd fd = connectUnixSocket(*path, WorkerThread::Clock::now() + limit, &worker);
  if (!fd) return nullptr;
  // libwayland takes the descriptor, also when it fails.
  return wl_display_connect_to_fd(fd.release());
}

void serveWayland(wl_display* display, WorkerThread& worker, const std::function<void()>& afterEvents) {
  pollfd fd{wl_display_get_fd(display), POLLIN, 0};
  for (;;) {
    while (wl_display_prepare_read(display) != 0)
      if (wl_display_dispatch_pending(display) < 0) return;
    // A compositor that reads nothing leaves requests queued; they go with
    // the next flush, and a broken connection shows in the read.
    if (wl_display_flush(display) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(display);
      return;
    }
    const auto wake = worker.wait({&fd, 1}, std::nullopt);
    if (wake != WorkerThread::Wake::ready) {
      wl_display_cancel_read(display);
      if (wake == WorkerThread::Wake::nudged) continue;
      return;
    }
    if (fd.revents & POLLIN) {
      if (wl_display_read_events(display) < 0) return;
    } else {
      wl_display_cancel_read(display);
      if (fd.revents & (POLLHUP | POLLERR)) return;
    }
    if (wl_display_dispatch_pending(display) < 0) return;
    if (afterEvents) afterEvents();
  }
}

}  // namespace velmora::linuxos
