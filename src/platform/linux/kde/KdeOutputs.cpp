#include "platform/linux/kde/KdeOutputs.h"

#include <wayland-client.h>

#include <algorithm>
#include <map>
#include <memory>

#include "kde-output-device-v2-client-protocol.h"
#include "platform/linux/common/SessionLog.h"
#include "platform/linux/kde/KdeOutputRules.h"
#include "platform/linux/wayland/WaylandConnection.h"

namespace velmora::linuxos {
namespace {

const Logger& outputsLog() {
  return sessionLog(SessionLog::kde);
}

constexpr std::uint32_t kMaxVersion = 2;

#ifdef KDE_OUTPUT_DEVICE_V2_REMOVED_SINCE_VERSION
// Plasma 6.7 and later announce devices through a registry, which must be
// bound at version 21 or later; the devices it makes share its version, so
// every device event up to 21 has a listener below.
#define VELMORA_KDE_OUTPUT_REGISTRY 1
constexpr std::uint32_t kRegistryVersion = 21;
#endif

struct Device {
  std::uint32_t globalName = 0;  // or, for a device from the registry, its place in announcement order
  kde_output_device_v2* proxy = nullptr;
  bool fromRegistry = false;  // released with a request; bound globals are only destroyed
  void* connection = nullptr;
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
  // Two rounds: the first brings the globals, the second the devices' first
  // descriptions; the list is published from then on.
  int syncRounds = 0;
  // Awaited while the first answers come; a connection that ends first
  // must free it.
  wl_callback* pendingSync = nullptr;

  ~Connection() {
    for (auto& [name, device] : devices)
      destroy(*device);
#ifdef VELMORA_KDE_OUTPUT_REGISTRY
    if (outputRegistry) kde_output_device_registry_v2_destroy(outputRegistry);
#endif
    if (pendingSync) wl_callback_destroy(pendingSync);
    if (registry) wl_registry_destroy(registry);
    if (display) wl_display_disconnect(display);
  }

  static void destroy(Device& device) {
    for (auto& [mode, size] : device.modes)
      kde_output_device_mode_v2_destroy(mode);
    device.modes.clear();
#ifdef VELMORA_KDE_OUTPUT_REGISTRY
    if (device.proxy && device.fromRegistry) kde_output_device_v2_release(device.proxy);
#endif
    if (device.proxy && !device.fromRegistry) kde_output_device_v2_destroy(device.proxy);
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
  static void serialNumber(void* data, kde_output_device_v2*, const char* serial) {
    static_cast<Device*>(data)->pending.serial = serial ? serial : "";
  }
  static void text(void*, kde_output_device_v2*, const char*) {}
  static void number(void*, kde_output_device_v2*, std::uint32_t) {}
  static void numbers(void*, kde_output_device_v2*, std::uint32_t, std::uint32_t) {}
  static void triple(void*, kde_output_device_v2*, std::uint32_t, std::uint32_t, std::uint32_t) {}
  static void signedTriple(void*, kde_output_device_v2*, std::int32_t, std::int32_t, std::int32_t) {}
  // A device from the registry that was unplugged; its proxy goes with it.
  static void removedDevice(void* data, kde_output_device_v2*) {
    auto& d = *static_cast<Device*>(data);
    auto& c = *static_cast<Connection*>(d.connection);
    c.forget(c.devices.find(d.globalName));
  }
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

  // Both filled by name: newer protocol files add events past the version
  // bound, which stay null and are never sent.
  static constexpr kde_output_device_v2_listener deviceListener = [] {
    kde_output_device_v2_listener l{};
    l.geometry = geometry;
    l.current_mode = currentMode;
    l.mode = mode;
    l.done = done;
    l.scale = scale;
    l.edid = edid;
    l.enabled = enabled;
    l.uuid = text;
    l.serial_number = serialNumber;
    l.eisa_id = text;
    l.capabilities = number;
    l.overscan = number;
    l.vrr_policy = number;
    l.rgb_range = number;
    l.name = name;
#ifdef VELMORA_KDE_OUTPUT_REGISTRY
    for (auto* event : {&l.high_dynamic_range, &l.sdr_brightness, &l.wide_color_gamut, &l.auto_rotate_policy,
                        &l.sdr_gamut_wideness, &l.color_profile_source, &l.brightness, &l.color_power_tradeoff,
                        &l.dimming, &l.ddc_ci_allowed, &l.max_bits_per_color, &l.automatic_max_bits_per_color_limit,
                        &l.edr_policy, &l.sharpness, &l.priority, &l.auto_brightness})
      *event = number;
    l.icc_profile_path = text;
    l.replication_source = text;
    l.brightness_metadata = triple;
    l.brightness_overrides = signedTriple;
    l.max_bits_per_color_range = numbers;
    l.removed = removedDevice;
#endif
    return l;
  }();
  static constexpr kde_output_device_mode_v2_listener modeListener = [] {
    kde_output_device_mode_v2_listener l{};
    l.size = modeSize;
    l.refresh = modeRefresh;
    l.preferred = modePreferred;
    l.removed = modeRemoved;
#ifdef VELMORA_KDE_OUTPUT_REGISTRY
    l.flags = [](void*, kde_output_device_mode_v2*, std::uint32_t) {};
#endif
    return l;
  }();

  static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                     std::uint32_t version) {
    auto& c = *static_cast<Connection*>(data);
#ifdef VELMORA_KDE_OUTPUT_REGISTRY
    if (std::string_view(interface) == kde_output_device_registry_v2_interface.name && version >= kRegistryVersion &&
        !c.outputRegistry) {
      // The registry lists every device: any bound as globals would show twice.
      for (auto& [key, device] : c.devices)
        destroy(*device);
      c.devices.clear();
      c.outputRegistry = static_cast<kde_output_device_registry_v2*>(
          wl_registry_bind(registry, name, &kde_output_device_registry_v2_interface, kRegistryVersion));
      if (c.outputRegistry) kde_output_device_registry_v2_add_listener(c.outputRegistry, &outputRegistryListener, &c);
      return;
    }
    if (c.outputRegistry) return;
#endif
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
    if (it != c.devices.end() && !it->second->fromRegistry) c.forget(it);
  }
  void forget(decltype(devices)::iterator it) {
    if (it == devices.end()) return;
    destroy(*it->second);
    devices.erase(it);
  }
  static constexpr wl_registry_listener registryListener = {global, globalRemove};

#ifdef VELMORA_KDE_OUTPUT_REGISTRY
  kde_output_device_registry_v2* outputRegistry = nullptr;
  std::uint32_t nextRegistryKey = 0;

  static void announced(void* data, kde_output_device_registry_v2*, kde_output_device_v2* proxy) {
    auto& c = *static_cast<Connection*>(data);
    auto device = std::make_unique<Device>();
    device->globalName = c.nextRegistryKey++;
    device->proxy = proxy;
    device->fromRegistry = true;
    device->connection = &c;
    kde_output_device_v2_add_listener(proxy, &deviceListener, device.get());
    c.devices[device->globalName] = std::move(device);
  }
  static void finished(void* data, kde_output_device_registry_v2* registry) {
    kde_output_device_registry_v2_destroy(registry);
    static_cast<Connection*>(data)->outputRegistry = nullptr;
  }
  static constexpr kde_output_device_registry_v2_listener outputRegistryListener = {finished, announced};
#endif
  static void synced(void* data, wl_callback* callback, std::uint32_t) {
    auto& c = *static_cast<Connection*>(data);
    wl_callback_destroy(callback);
    c.pendingSync = nullptr;
    if (++c.syncRounds < 2) {
      c.sync();
      return;
    }
    if (c.devices.empty()) outputsLog().info("The compositor offers no kde_output_device_v2; no displays known");
    c.publish();
  }
  static constexpr wl_callback_listener syncListener = {synced};
  void sync() {
    pendingSync = wl_display_sync(display);
    wl_callback_add_listener(pendingSync, &syncListener, this);
  }
};

KdeOutputs::KdeOutputs(std::function<void()> onChange, std::optional<std::string> display)
    : onChange_(std::move(onChange)), display_(std::move(display)) {
  if (!worker_.start("kde-outputs", [this] { run(); }))
    outputsLog().info("Could not start the KDE back end's display thread");
}

KdeOutputs::~KdeOutputs() {
  worker_.stop();
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

void KdeOutputs::run() {
  bool loggedLost = false;
  worker_.keepConnecting(Backoff{}, [this, &loggedLost] {
    Connection connection;
    connection.owner = this;
    connection.display = connectWayland(display_, worker_);
    if (!connection.display) {
      if (!loggedLost) outputsLog().info("Wayland compositor unavailable; retrying in the background");
      loggedLost = true;
      return false;
    }
    if (loggedLost) outputsLog().info("Wayland compositor connection restored");
    loggedLost = false;
    connection.registry = wl_display_get_registry(connection.display);
    wl_registry_add_listener(connection.registry, &Connection::registryListener, &connection);
    connection.sync();
    serveWayland(connection.display, worker_, [&connection] {
      if (connection.syncRounds >= 2) connection.publish();
    });
    if (!worker_.stopping()) {
      outputsLog().info("Wayland compositor connection lost; reconnecting in the background");
      loggedLost = true;
    }
    return true;
  });
}

}  // namespace velmora::linuxos
