#include "platform/linux/kde/KdeOutputs.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include <wayland-client.h>

#include "kde-output-device-v2-client-protocol.h"
#include "platform/Log.h"
#include "platform/ThreadStart.h"
#include "platform/linux/kde/KdeOutputRules.h"

namespace velmora::linuxos {
namespace {

const Logger& outputsLog() {
  static const Logger logger(kVelmoraSubsystem, "Platform");
  return logger;
}

constexpr std::uint32_t kMaxVersion = 2;

struct Device {
  std::uint32_t globalName = 0;
  kde_output_device_v2* proxy = nullptr;
  OutputDeviceState pending;
  std::optional<OutputDeviceState> applied;
  std::map<kde_output_device_mode_v2*, std::pair<std::int32_t, std::int32_t>> modes;
  kde_output_device_mode_v2* currentMode = nullptr;
};

}  // namespace

struct KdeOutputs::Connection {
  KdeOutputs* owner = nullptr;
  wl_display* display = nullptr;
  wl_registry* registry = nullptr;
  std::map<std::uint32_t, std::unique_ptr<Device>> devices;  // by global name: platform order

  ~Connection() {
    for (auto& [name, device] : devices)
      destroy(*device);
    if (registry) wl_registry_destroy(registry);
    if (display) wl_display_disconnect(display);
  }

  static void destroy(Device& device) {
    for (auto& [mode, size] : device.modes)
      kde_output_device_mode_v2_destroy(mode);
    device.modes.clear();
    if (device.proxy) kde_output_device_v2_destroy(device.proxy);
    device.proxy = nullptr;
  }

  void publish() {
    std::vector<OutputDeviceState> states;
    for (auto& [name, device] : devices)
      if (device->applied) states.push_back(*device->applied);
    owner->publish(screensFromOutputDevices(states));
  }

  // Listeners: every event of the bound version must have one.
  static void geometry(void* data, kde_output_device_v2*, std::int32_t x, std::int32_t y, std::int32_t, std::int32_t,
                       std::int32_t, const char* make, const char* model, std::int32_t transform) {
    auto& d = *static_cast<Device*>(data);
    d.pending.x = x;
    d.pending.y = y;
    d.pending.make = make ? make : "";
    d.pending.model = model ? model : "";
    d.pending.transform = transform;
  }
  static void currentMode(void* data, kde_output_device_v2*, kde_output_device_mode_v2* mode) {
    static_cast<Device*>(data)->currentMode = mode;
  }
  static void mode(void* data, kde_output_device_v2*, kde_output_device_mode_v2* mode) {
    auto& d = *static_cast<Device*>(data);
    d.modes[mode] = {0, 0};
    kde_output_device_mode_v2_add_listener(mode, &modeListener, &d);
  }
  static void done(void* data, kde_output_device_v2*) {
    auto& d = *static_cast<Device*>(data);
    auto it = d.modes.find(d.currentMode);
    d.pending.modeWidth = it == d.modes.end() ? 0 : it->second.first;
    d.pending.modeHeight = it == d.modes.end() ? 0 : it->second.second;
    d.applied = d.pending;
  }
  static void scale(void* data, kde_output_device_v2*, wl_fixed_t factor) {
    static_cast<Device*>(data)->pending.scale = wl_fixed_to_double(factor);
  }
  static void edid(void* data, kde_output_device_v2*, const char* raw) {
    static_cast<Device*>(data)->pending.edidBase64 = raw ? raw : "";
  }
  static void enabled(void* data, kde_output_device_v2*, std::int32_t on) {
    static_cast<Device*>(data)->pending.enabled = on != 0;
  }
  static void text(void*, kde_output_device_v2*, const char*) {}
  static void number(void*, kde_output_device_v2*, std::uint32_t) {}
  static void name(void* data, kde_output_device_v2*, const char* n) {
    static_cast<Device*>(data)->pending.name = n ? n : "";
  }

  static void modeSize(void* data, kde_output_device_mode_v2* mode, std::int32_t width, std::int32_t height) {
    static_cast<Device*>(data)->modes[mode] = {width, height};
  }
  static void modeRefresh(void*, kde_output_device_mode_v2*, std::int32_t) {}
  static void modePreferred(void*, kde_output_device_mode_v2*) {}
  static void modeRemoved(void* data, kde_output_device_mode_v2* mode) {
    auto& d = *static_cast<Device*>(data);
    d.modes.erase(mode);
    if (d.currentMode == mode) d.currentMode = nullptr;
    kde_output_device_mode_v2_destroy(mode);
  }

  static constexpr kde_output_device_v2_listener deviceListener = {
      geometry, currentMode, mode, done, scale, edid, enabled, text, text, text, number, number, number, number, name};
  static constexpr kde_output_device_mode_v2_listener modeListener = {modeSize, modeRefresh, modePreferred,
                                                                      modeRemoved};

  static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version) {
    auto& c = *static_cast<Connection*>(data);
    if (std::string_view(interface) != kde_output_device_v2_interface.name) return;
    auto device = std::make_unique<Device>();
    device->globalName = name;
    device->proxy = static_cast<kde_output_device_v2*>(
        wl_registry_bind(registry, name, &kde_output_device_v2_interface, std::min(version, kMaxVersion)));
    if (!device->proxy) return;
    kde_output_device_v2_add_listener(device->proxy, &deviceListener, device.get());
    c.devices[name] = std::move(device);
  }
  static void globalRemove(void* data, wl_registry*, std::uint32_t name) {
    auto& c = *static_cast<Connection*>(data);
    auto it = c.devices.find(name);
    if (it == c.devices.end()) return;
    destroy(*it->second);
    c.devices.erase(it);
  }
  static constexpr wl_registry_listener registryListener = {global, globalRemove};
};

KdeOutputs::KdeOutputs(std::function<void()> onChange, std::optional<std::string> display)
    : onChange_(std::move(onChange)), display_(std::move(display)) {
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  // Without a way to stop it, the thread could never be joined.
  if (stopFd_ < 0) {
    outputsLog().info("Could not start the KDE back end's thread: %s", {std::strerror(errno)});
    return;
  }
  thread_ = std::thread([this] {
    runThreadStartHook();
    run();
  });
}

KdeOutputs::~KdeOutputs() {
  const std::uint64_t one = 1;
  if (stopFd_ >= 0 && write(stopFd_, &one, sizeof one) < 0) {
    // The thread also stops when the eventfd is closed under it; nothing else to do.
  }
  if (thread_.joinable()) thread_.join();
  if (stopFd_ >= 0) close(stopFd_);
}

std::vector<PlatformScreen> KdeOutputs::screens() const {
  std::lock_guard lock(mutex_);
  return screens_;
}

bool KdeOutputs::available() const {
  std::lock_guard lock(mutex_);
  return available_;
}

void KdeOutputs::publish(std::vector<PlatformScreen> screens) {
  {
    std::lock_guard lock(mutex_);
    available_ = true;
    if (screens_ == screens) return;
    screens_ = std::move(screens);
  }
  if (onChange_) onChange_();
}

bool KdeOutputs::waitForStop(int milliseconds) {
  pollfd fd{stopFd_, POLLIN, 0};
  return poll(&fd, 1, milliseconds) > 0;
}

void KdeOutputs::run() {
  int backoffMs = 250;
  bool loggedLost = false;
  for (;;) {
    Connection connection;
    connection.owner = this;
    connection.display = wl_display_connect(display_ ? display_->c_str() : nullptr);
    if (connection.display) {
      if (loggedLost) outputsLog().info("Wayland compositor connection restored");
      loggedLost = false;
      backoffMs = 250;
      runConnection(connection);
      if (waitForStop(0)) return;
      outputsLog().info("Wayland compositor connection lost; reconnecting in the background");
      loggedLost = true;
    } else if (!loggedLost) {
      outputsLog().info("Wayland compositor unavailable; retrying in the background");
      loggedLost = true;
    }
    if (waitForStop(backoffMs)) return;
    backoffMs = std::min(backoffMs * 2, 4000);
  }
}

void KdeOutputs::runConnection(Connection& c) {
  c.registry = wl_display_get_registry(c.display);
  wl_registry_add_listener(c.registry, &Connection::registryListener, &c);
  // Two round trips: the globals, then the devices' first descriptions.
  if (wl_display_roundtrip(c.display) < 0 || wl_display_roundtrip(c.display) < 0) return;
  if (c.devices.empty()) outputsLog().info("The compositor offers no kde_output_device_v2; no displays known");
  c.publish();
  const int fd = wl_display_get_fd(c.display);
  for (;;) {
    while (wl_display_prepare_read(c.display) != 0) {
      if (wl_display_dispatch_pending(c.display) < 0) return;
    }
    if (wl_display_flush(c.display) < 0 && errno != EAGAIN) {
      wl_display_cancel_read(c.display);
      return;
    }
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      wl_display_cancel_read(c.display);
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents) {
      wl_display_cancel_read(c.display);
      return;
    }
    if (fds[0].revents & (POLLERR | POLLHUP)) {
      wl_display_cancel_read(c.display);
      return;
    }
    if (wl_display_read_events(c.display) < 0) return;
    if (wl_display_dispatch_pending(c.display) < 0) return;
    c.publish();
  }
}

}  // namespace velmora::linuxos
