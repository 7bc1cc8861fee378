#include "platform/linux/gnome/GnomeBus.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/Log.h"
#include "platform/ThreadStart.h"
#include "platform/linux/gnome/BusReplies.h"
#include "platform/linux/gnome/ExtensionLink.h"

namespace velmora::linuxos::gnome {
namespace {

constexpr const char* kShellName = "org.gnome.Shell";
constexpr const char* kMutterName = "org.gnome.Mutter.DisplayConfig";
constexpr const char* kExtensionPath = "/co/quennet/Velmora/Shell";
constexpr const char* kExtensionInterface = "co.quennet.Velmora.Shell";
constexpr const char* kMutterPath = "/org/gnome/Mutter/DisplayConfig";

std::uint64_t nowUsec() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

std::string errorText(sd_bus_message* m) {
  const sd_bus_error* e = sd_bus_message_get_error(m);
  return e && e->name ? e->name : "no reply";
}

}  // namespace

// Everything here runs on the bus thread.
struct GnomeBus::Loop {
  GnomeBus& owner;
  sd_bus* bus = nullptr;
  ExtensionLink link;
  Logger log{kVelmoraSubsystem, "GNOME"};
  std::string shellOwner;
  std::string mutterOwner;
  // One call of each kind at a time; a request while one is out is made
  // once the answer is in.
  bool probeOut = false, probeAgain = false;
  bool windowsOut = false, windowsAgain = false;
  bool stateOut = false, stateAgain = false;
  std::uint64_t graceDeadline = 0;  // 0: none

  explicit Loop(GnomeBus& o) : owner(o) {}

  void apply(const ExtensionLink::Actions& actions) {
    for (const auto& line : actions.log)
      log.info("%s", {line});
    {
      std::lock_guard lock(owner.mutex_);
      if (actions.clearWindows) owner.windows_.reset();
      owner.describe_ = link.describe();
    }
    if (actions.armGrace) graceDeadline = nowUsec() + static_cast<std::uint64_t>(actions.armGrace->count()) * 1000u;
    if (actions.tellUser && owner.callbacks_.tellUser) owner.callbacks_.tellUser(*actions.tellUser);
    if (actions.probe) probe();
    if (actions.readWindows) readWindows();
  }

  bool call(const char* destination, const char* path, const char* interface, const char* member,
            sd_bus_message_handler_t handler, const char* types = nullptr, const char* arg1 = nullptr,
            const char* arg2 = nullptr) {
    const int r =
        arg2 ? sd_bus_call_method_async(bus, nullptr, destination, path, interface, member, handler, this, types, arg1,
                                        arg2)
        : arg1
            ? sd_bus_call_method_async(bus, nullptr, destination, path, interface, member, handler, this, types, arg1)
            : sd_bus_call_method_async(bus, nullptr, destination, path, interface, member, handler, this, nullptr);
    if (r < 0) log.info("could not call %s.%s: error %d", {interface, member, -r});
    return r >= 0;
  }

  void probe() {
    if (probeOut) {
      probeAgain = true;
      return;
    }
    probeOut = call(kShellName, kExtensionPath, "org.freedesktop.DBus.Properties", "Get", &Loop::onVersion, "ss",
                    kExtensionInterface, "Version");
  }

  void readWindows() {
    if (windowsOut) {
      windowsAgain = true;
      return;
    }
    windowsOut = call(kShellName, kExtensionPath, kExtensionInterface, "Windows", &Loop::onWindows);
  }

  void readState() {
    if (stateOut) {
      stateAgain = true;
      return;
    }
    stateOut = call(kMutterName, kMutterPath, "org.gnome.Mutter.DisplayConfig", "GetCurrentState", &Loop::onState);
  }

  void setScreens(std::vector<PlatformScreen> screens) {
    {
      std::lock_guard lock(owner.mutex_);
      owner.screens_ = std::move(screens);
    }
    if (owner.callbacks_.screensChanged) owner.callbacks_.screensChanged();
  }

  static Loop& self(void* userdata) { return *static_cast<Loop*>(userdata); }

  static int onVersion(sd_bus_message* m, void* userdata, sd_bus_error*) {
    Loop& l = self(userdata);
    l.probeOut = false;
    if (l.probeAgain) {
      // Something changed since this was asked; only the newer answer counts.
      l.probeAgain = false;
      l.probe();
      return 0;
    }
    std::optional<std::uint32_t> version;
    if (!sd_bus_message_is_method_error(m, nullptr)) version = readUint32Property(m);
    l.apply(l.link.versionRead(version));
    return 0;
  }

  static int onWindows(sd_bus_message* m, void* userdata, sd_bus_error*) {
    Loop& l = self(userdata);
    l.windowsOut = false;
    std::optional<std::vector<ShellWindow>> windows;
    if (sd_bus_message_is_method_error(m, SD_BUS_ERROR_ACCESS_DENIED)) {
      l.windowsAgain = false;
      l.apply(l.link.windowsRefused());
      return 0;
    }
    if (!sd_bus_message_is_method_error(m, nullptr)) windows = gnome::readWindows(m);
    if (!windows) {
      l.log.debug("the extension's window list could not be read: %s", {errorText(m)});
      l.windowsAgain = false;
      l.apply(l.link.windowsFailed());
      return 0;
    }
    if (l.link.state() == ExtensionLink::State::connected) {
      std::lock_guard lock(l.owner.mutex_);
      l.owner.windows_ = std::move(windows);
    }
    if (l.windowsAgain) {
      l.windowsAgain = false;
      l.readWindows();
    }
    return 0;
  }

  static int onState(sd_bus_message* m, void* userdata, sd_bus_error*) {
    Loop& l = self(userdata);
    l.stateOut = false;
    if (l.stateAgain) {
      l.stateAgain = false;
      l.readState();
      return 0;
    }
    std::optional<MutterState> state;
    if (!sd_bus_message_is_method_error(m, nullptr)) state = readCurrentState(m);
    if (!state) {
      l.log.info("Mutter's display configuration could not be read: %s", {errorText(m)});
      l.setScreens({});
      return 0;
    }
    std::vector<PlatformScreen> screens = screensFromState(*state);
    for (const auto& screen : screens)
      l.log.debug("display %s frame=%s", {screen.localizedName, velmora::describe(screen.frame)});
    l.setScreens(std::move(screens));
    return 0;
  }

  static int onNameOwner(sd_bus_message* m, void* userdata, sd_bus_error*) {
    Loop& l = self(userdata);
    const char* sender = sd_bus_message_get_sender(m);
    if (!sender || std::string(sender) != "org.freedesktop.DBus") return 0;
    const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
    l.ownerChanged(name, newOwner);
    return 0;
  }

  static int onGetNameOwner(sd_bus_message* m, void* userdata, sd_bus_error*, const char* name) {
    const char* owner = "";
    if (!sd_bus_message_is_method_error(m, nullptr) && sd_bus_message_read(m, "s", &owner) < 0) owner = "";
    self(userdata).ownerChanged(name, owner);
    return 0;
  }
  static int onShellOwner(sd_bus_message* m, void* u, sd_bus_error* e) { return onGetNameOwner(m, u, e, kShellName); }
  static int onMutterOwner(sd_bus_message* m, void* u, sd_bus_error* e) { return onGetNameOwner(m, u, e, kMutterName); }

  void ownerChanged(const std::string& name, const std::string& newOwner) {
    if (name == kShellName) {
      if (newOwner == shellOwner) return;
      shellOwner = newOwner;
      apply(newOwner.empty() ? link.shellVanished() : link.shellAppeared());
    } else if (name == kMutterName) {
      if (newOwner == mutterOwner) return;
      mutterOwner = newOwner;
      if (newOwner.empty())
        setScreens({});
      else
        readState();
    }
  }

  // Signals count only from the process that owns the name they speak for.
  static int onChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    Loop& l = self(userdata);
    const char* sender = sd_bus_message_get_sender(m);
    if (!sender || l.shellOwner.empty() || l.shellOwner != sender) return 0;
    l.apply(l.link.changedSignal());
    return 0;
  }

  // The extension tells the window list to the owner of this name alone.
  static int onNameRequested(sd_bus_message* m, void* userdata, sd_bus_error*) {
    Loop& l = self(userdata);
    std::uint32_t result = 0;
    if (!sd_bus_message_is_method_error(m, nullptr) && sd_bus_message_read(m, "u", &result) >= 0 &&
        result == 1 /* DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER */)
      return 0;
    l.log.info("GNOME: could not own %s: %s", {kWindowsReaderName, result ? "held by another program" : errorText(m)});
    l.apply(l.link.nameRefused());
    return 0;
  }

  static int onMonitorsChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    Loop& l = self(userdata);
    const char* sender = sd_bus_message_get_sender(m);
    if (!sender || l.mutterOwner.empty() || l.mutterOwner != sender) return 0;
    l.readState();
    return 0;
  }

  bool start() {
    int r = sd_bus_open_user(&bus);
    if (r < 0) {
      log.info("GNOME: no session bus (error %d); windows and displays cannot be read", {-r});
      return false;
    }
    const std::string nameRule =
        "type='signal',sender='org.freedesktop.DBus',path='/org/freedesktop/DBus',"
        "interface='org.freedesktop.DBus',member='NameOwnerChanged',arg0='";
    struct Match {
      std::string rule;
      sd_bus_message_handler_t handler;
    };
    const Match matches[] = {
        {nameRule + kShellName + "'", &Loop::onNameOwner},
        {nameRule + kMutterName + "'", &Loop::onNameOwner},
        {std::string("type='signal',path='") + kExtensionPath + "',interface='" + kExtensionInterface +
             "',member='Changed'",
         &Loop::onChanged},
        {std::string("type='signal',path='") + kMutterPath +
             "',interface='org.gnome.Mutter.DisplayConfig',member='MonitorsChanged'",
         &Loop::onMonitorsChanged},
    };
    // Before anything is read, so the extension knows us by the time we ask.
    r = sd_bus_request_name_async(bus, nullptr, kWindowsReaderName, 0, &Loop::onNameRequested, this);
    if (r < 0) {
      log.info("GNOME: could not ask for %s (error %d)", {kWindowsReaderName, -r});
      apply(link.nameRefused());
    }
    for (const auto& match : matches) {
      r = sd_bus_add_match(bus, nullptr, match.rule.c_str(), match.handler, this);
      if (r < 0) {
        log.info("GNOME: could not watch the session bus (error %d)", {-r});
        return false;
      }
    }
    // Asked after the matches are in place, so no change falls between.
    call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner", &Loop::onShellOwner,
         "s", kShellName);
    call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner", &Loop::onMutterOwner,
         "s", kMutterName);
    return true;
  }

  // Until the wake descriptor is written or the bus goes away.
  void serve(int wakeFd) {
    while (true) {
      int r = 0;
      while ((r = sd_bus_process(bus, nullptr)) > 0) {
      }
      if (r < 0) {
        log.info("GNOME: the session bus connection ended (error %d)", {-r});
        return;
      }
      std::uint64_t now = nowUsec();
      if (graceDeadline != 0 && now >= graceDeadline) {
        graceDeadline = 0;
        apply(link.graceExpired());
        continue;
      }
      std::uint64_t until = UINT64_MAX;
      if (sd_bus_get_timeout(bus, &until) < 0) until = UINT64_MAX;
      if (graceDeadline != 0 && graceDeadline < until) until = graceDeadline;
      int timeoutMs = -1;
      if (until != UINT64_MAX) timeoutMs = until <= now ? 0 : static_cast<int>((until - now + 999) / 1000);
      pollfd fds[2] = {{sd_bus_get_fd(bus), static_cast<short>(sd_bus_get_events(bus)), 0}, {wakeFd, POLLIN, 0}};
      if (poll(fds, 2, timeoutMs) < 0 && errno != EINTR) return;
      if (fds[1].revents) return;
    }
  }
};

GnomeBus::GnomeBus(Callbacks callbacks) : callbacks_(std::move(callbacks)) {
  describe_ = ExtensionLink().describe();
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    // Without it the thread could never be stopped; better not to start it.
    Logger(kVelmoraSubsystem, "GNOME").info("GNOME: cannot start the session-bus thread (eventfd error %d)", {errno});
    return;
  }
  thread_ = std::thread([this] {
    runThreadStartHook();
    run();
  });
}

GnomeBus::~GnomeBus() {
  if (wakeFd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = write(wakeFd_, &one, sizeof one);
  }
  if (thread_.joinable()) thread_.join();
  if (wakeFd_ >= 0) close(wakeFd_);
}

void GnomeBus::run() {
  Loop loop(*this);
  if (loop.start()) loop.serve(wakeFd_);
  if (loop.bus) sd_bus_flush_close_unref(loop.bus);
  std::lock_guard lock(mutex_);
  windows_.reset();
}

std::optional<std::vector<ShellWindow>> GnomeBus::windows() const {
  std::lock_guard lock(mutex_);
  return windows_;
}

std::vector<PlatformScreen> GnomeBus::screens() const {
  std::lock_guard lock(mutex_);
  return screens_;
}

std::string GnomeBus::describe() const {
  std::lock_guard lock(mutex_);
  return describe_;
}

}  // namespace velmora::linuxos::gnome
