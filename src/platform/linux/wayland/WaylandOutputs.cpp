#include "platform/linux/wayland/WaylandOutputs.h"

#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/linux/common/SessionLog.h"
#include "platform/linux/common/WorkerThread.h"
#include "platform/linux/wayland/WaylandConnection.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace velmora::linuxos {

namespace {

const Logger& outputsLog() {
  return sessionLog(SessionLog::wayland);
}

constexpr std::uint32_t kOutputVersion = 4;
constexpr std::uint32_t kXdgOutputManagerVersion = 3;

struct Output {
  std::uint32_t globalName = 0;
  std::uint32_t version = 0;
  wl_output* output = nullptr;
  zxdg_output_v1* xdg = nullptr;
  WaylandOutputInfo info;
  // Without xdg-output the logical frame is worked out from these.
  std::int32_t x = 0, y = 0, modeWidth = 0, modeHeight = 0, scale = 1, transform = 0;
  bool logicalFromXdg = false;
};

// The frame when the compositor offers no xdg-output: the mode's pixels
// divided by the scale, turned with the output.
std::optional<Rect> frameWithoutXdgOutput(const Output& o) {
  if (o.modeWidth <= 0 || o.modeHeight <= 0) return std::nullopt;
  const int scale = std::max(1, o.scale);
  double w = static_cast<double>(o.modeWidth) / scale;
  double h = static_cast<double>(o.modeHeight) / scale;
  if (o.transform % 2 == 1) std::swap(w, h);
  return Rect{static_cast<double>(o.x), static_cast<double>(o.y), w, h};
}

}  // namespace

struct WaylandOutputs::Impl {
  std::shared_ptr<ChangeCoalescer> changes;
  std::function<void()> onChange;
  std::optional<std::string> display;

  std::mutex mutex;
  std::condition_variable firstAnswer;
  bool answered = false;
  bool isConnected = false;
  std::vector<WaylandOutputInfo> snapshot;
  ConnectorIds ids;
  std::vector<PlatformScreen> screens;

  // Touched by the thread only.
  wl_display* wl = nullptr;
  wl_registry* registry = nullptr;
  zxdg_output_manager_v1* xdgManager = nullptr;
  std::vector<std::unique_ptr<Output>> outputs;
  int syncRounds = 0;
  // The first answers' callback while it is awaited; a connection that ends
  // before it comes must free it.
  wl_callback* pendingSync = nullptr;

  WorkerThread worker;

  void run();
  bool serve();
  void teardown();
  void addXdgOutput(Output& o);
  void publish();
  void markAnswered();
  void sync() {
    pendingSync = wl_display_sync(wl);
    wl_callback_add_listener(pendingSync, &syncListener, this);
  }

  static thread_local Impl* serving;
  static const wl_registry_listener registryListener;
  static const wl_output_listener outputListener;
  static const zxdg_output_v1_listener xdgListener;
  static const wl_callback_listener syncListener;
};

namespace {

Output* asOutput(void* data) {
  return static_cast<Output*>(data);
}

}  // namespace

// Output listeners receive the output record; they reach its owner through
// this, set while the thread serves one connection.
thread_local WaylandOutputs::Impl* WaylandOutputs::Impl::serving = nullptr;

const wl_output_listener WaylandOutputs::Impl::outputListener = {
    [](void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char* make, const char* model,
       int32_t transform) {
      auto* o = asOutput(data);
      o->x = x;
      o->y = y;
      o->transform = transform;
      o->info.make = make ? make : "";
      o->info.model = model ? model : "";
    },
    [](void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
      if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
      auto* o = asOutput(data);
      o->modeWidth = width;
      o->modeHeight = height;
    },
    [](void*, wl_output*) {
      if (serving) serving->publish();
    },
    [](void* data, wl_output*, int32_t factor) { asOutput(data)->scale = factor; },
    [](void* data, wl_output*, const char* name) {
      auto* o = asOutput(data);
      if (name && o->info.connector.empty()) o->info.connector = name;
    },
    [](void* data, wl_output*, const char* description) {
      auto* o = asOutput(data);
      if (description && o->info.description.empty()) o->info.description = description;
    },
};

const zxdg_output_v1_listener WaylandOutputs::Impl::xdgListener = {
    [](void* data, zxdg_output_v1*, int32_t x, int32_t y) {
      auto* o = asOutput(data);
      Rect r = o->info.logical.value_or(Rect{});
      r.x = x;
      r.y = y;
      o->info.logical = r;
    },
    [](void* data, zxdg_output_v1*, int32_t width, int32_t height) {
      auto* o = asOutput(data);
      Rect r = o->info.logical.value_or(Rect{});
      r.width = width;
      r.height = height;
      o->info.logical = r;
      o->logicalFromXdg = true;
    },
    [](void*, zxdg_output_v1*) {
      // Before version 3 xdg-output has its own done; from 3 on wl_output's counts.
      if (serving) serving->publish();
    },
    [](void* data, zxdg_output_v1*, const char* name) {
      if (name) asOutput(data)->info.connector = name;
    },
    [](void* data, zxdg_output_v1*, const char* description) {
      if (description) asOutput(data)->info.description = description;
    },
};

const wl_registry_listener WaylandOutputs::Impl::registryListener = {
    [](void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
      auto* self = static_cast<Impl*>(data);
      if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto o = std::make_unique<Output>();
        o->globalName = name;
        o->version = std::min(version, kOutputVersion);
        o->output = static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, o->version));
        wl_output_add_listener(o->output, &outputListener, o.get());
        if (self->xdgManager) self->addXdgOutput(*o);
        self->outputs.push_back(std::move(o));
      } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 && !self->xdgManager) {
        self->xdgManager = static_cast<zxdg_output_manager_v1*>(wl_registry_bind(
            registry, name, &zxdg_output_manager_v1_interface, std::min(version, kXdgOutputManagerVersion)));
        for (auto& o : self->outputs)
          self->addXdgOutput(*o);
      }
    },
    [](void* data, wl_registry*, uint32_t name) {
      auto* self = static_cast<Impl*>(data);
      auto it = std::find_if(self->outputs.begin(), self->outputs.end(),
                             [name](const auto& o) { return o->globalName == name; });
      if (it == self->outputs.end()) return;
      if ((*it)->xdg) zxdg_output_v1_destroy((*it)->xdg);
      if ((*it)->version >= WL_OUTPUT_RELEASE_SINCE_VERSION)
        wl_output_release((*it)->output);
      else
        wl_output_destroy((*it)->output);
      self->outputs.erase(it);
      self->publish();
    },
};

// Two rounds: the first brings the globals, the second what was bound.
const wl_callback_listener WaylandOutputs::Impl::syncListener = {
    [](void* data, wl_callback* callback, uint32_t) {
      auto* self = static_cast<Impl*>(data);
      wl_callback_destroy(callback);
      self->pendingSync = nullptr;
      if (++self->syncRounds < 2) {
        self->sync();
        return;
      }
      self->publish();
      self->markAnswered();
    },
};

void WaylandOutputs::Impl::addXdgOutput(Output& o) {
  if (o.xdg) return;
  o.xdg = zxdg_output_manager_v1_get_xdg_output(xdgManager, o.output);
  zxdg_output_v1_add_listener(o.xdg, &xdgListener, &o);
}

void WaylandOutputs::Impl::publish() {
  std::vector<WaylandOutputInfo> infos;
  for (const auto& o : outputs) {
    WaylandOutputInfo info = o->info;
    if (!o->logicalFromXdg) info.logical = frameWithoutXdgOutput(*o);
    if (info.connector.empty()) info.connector = "wl_output-" + std::to_string(o->globalName);
    infos.push_back(std::move(info));
  }
  bool changed = false;
  {
    std::lock_guard lock(mutex);
    auto next = screensFromOutputs(infos, ids);
    changed = next != screens;
    screens = std::move(next);
    snapshot = std::move(infos);
  }
  if (!changed) return;
  if (changes) changes->trigger();
  if (onChange) onChange();
}

void WaylandOutputs::Impl::markAnswered() {
  std::lock_guard lock(mutex);
  answered = true;
  firstAnswer.notify_all();
}

void WaylandOutputs::Impl::teardown() {
  for (auto& o : outputs) {
    if (o->xdg) zxdg_output_v1_destroy(o->xdg);
    wl_output_destroy(o->output);
  }
  outputs.clear();
  if (xdgManager) zxdg_output_manager_v1_destroy(xdgManager);
  xdgManager = nullptr;
  if (pendingSync) wl_callback_destroy(pendingSync);
  pendingSync = nullptr;
  if (registry) wl_registry_destroy(registry);
  registry = nullptr;
  if (wl) wl_display_disconnect(wl);
  wl = nullptr;
  syncRounds = 0;
}

// Serves one connection until it breaks or the owner stops; true when the
// connection was made.
bool WaylandOutputs::Impl::serve() {
  wl = connectWayland(display, worker);
  if (!wl) return false;
  {
    std::lock_guard lock(mutex);
    isConnected = true;
  }
  serving = this;
  registry = wl_display_get_registry(wl);
  wl_registry_add_listener(registry, &registryListener, this);
  sync();
  serveWayland(wl, worker);
  serving = nullptr;
  teardown();
  {
    std::lock_guard lock(mutex);
    isConnected = false;
  }
  publish();
  return true;
}

void WaylandOutputs::Impl::run() {
  bool wasLost = false;
  worker.keepConnecting(Backoff{}, [this, &wasLost] {
    const bool made = serve();
    markAnswered();
    if (worker.stopping()) return made;
    if (made) {
      outputsLog().info("Wayland outputs: lost the compositor; reconnecting");
      wasLost = true;
    } else if (!wasLost) {
      outputsLog().info("Wayland outputs: cannot connect to the compositor; retrying");
      wasLost = true;
    }
    return made;
  });
}

WaylandOutputs::WaylandOutputs(std::shared_ptr<ChangeCoalescer> changes, std::optional<std::string> display,
                               std::function<void()> onChange)
    : changes_(std::move(changes)), impl_(std::make_unique<Impl>()) {
  impl_->changes = changes_;
  impl_->onChange = std::move(onChange);
  impl_->display = std::move(display);
  if (!impl_->worker.start("wayland-outputs", [impl = impl_.get()] { impl->run(); })) {
    outputsLog().info("Wayland outputs: cannot start a thread to read them");
    return;
  }
  std::unique_lock lock(impl_->mutex);
  impl_->firstAnswer.wait_for(lock, std::chrono::seconds(1), [this] { return impl_->answered; });
}

WaylandOutputs::~WaylandOutputs() {
  impl_->worker.stop();
}

std::vector<PlatformScreen> WaylandOutputs::screens() {
  std::lock_guard lock(impl_->mutex);
  return impl_->screens;
}

void WaylandOutputs::observeConfigurationChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler) {
  if (changes_) changes_->observe(std::move(queue), std::move(handler));
}

std::vector<WaylandOutputInfo> WaylandOutputs::outputs() {
  std::lock_guard lock(impl_->mutex);
  return impl_->snapshot;
}

bool WaylandOutputs::connected() {
  std::lock_guard lock(impl_->mutex);
  return impl_->isConnected;
}

}  // namespace velmora::linuxos
