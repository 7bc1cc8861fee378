#include "platform/linux/gnome/GnomeBus.h"

#include <systemd/sd-bus.h>

#include <cstdint>

#include "platform/linux/common/BusWait.h"
#include "platform/linux/common/SessionLog.h"
#include "platform/linux/gnome/BusReplies.h"
#include "platform/linux/gnome/ExtensionLink.h"

namespace velmora::linuxos::gnome {
namespace {

using Clock = WorkerThread::Clock;

constexpr const char* kShellName = "org.gnome.Shell";
constexpr const char* kMutterName = "org.gnome.Mutter.DisplayConfig";
constexpr const char* kExtensionPath = "/co/quennet/Velmora/Shell";
constexpr const char* kExtensionInterface = "co.quennet.Velmora.Shell";
constexpr const char* kMutterPath = "/org/gnome/Mutter/DisplayConfig";

const Logger& gnomeLog() {
  return sessionLog(SessionLog::gnome);
}

std::string errorText(sd_bus_message* m) {
  const sd_bus_error* e = sd_bus_message_get_error(m);
  return e && e->name ? e->name : "no reply";
}

// One call of a kind at a time: one asked for while another is out is made
// once that answer is in.
struct CallSlot {
  bool out = false;
  bool again = false;

  // Whether to make the call now.
  bool ask() {
    if (out) again = true;
    return !out;
  }
  // The answer came; true when a newer call was asked for meanwhile.
  bool answered() {
    out = false;
    const bool newer = again;
    again = false;
    return newer;
  }
};

}  // namespace

// Everything here runs on the bus thread.
struct GnomeBus::Loop {
  GnomeBus& owner;
  sd_bus* bus = nullptr;
  ExtensionLink link;
  std::string shellOwner;
  std::string mutterOwner;
  CallSlot probeCall, windowsCall, stateCall;
  std::optional<Clock::time_point> timer;

  explicit Loop(GnomeBus& o) : owner(o) {}

  bool start();
  void serve();

  void apply(const ExtensionLink::Actions& actions);
  bool call(const char* destination, const char* path, const char* interface, const char* member,
            sd_bus_message_handler_t handler, const char* types = nullptr, const char* arg1 = nullptr,
            const char* arg2 = nullptr);
  void probe();
  void readWindows();
  void readState();
  void setScreens(std::vector<PlatformScreen> screens);
  void ownerChanged(const std::string& name, const std::string& newOwner);

  static Loop& self(void* userdata) { return *static_cast<Loop*>(userdata); }
  static int onVersion(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int onWindows(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int onState(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int onNameOwner(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int onGetNameOwner(sd_bus_message* m, void* userdata, const char* name);
  static int onShellOwner(sd_bus_message* m, void* u, sd_bus_error*) { return onGetNameOwner(m, u, kShellName); }
  static int onMutterOwner(sd_bus_message* m, void* u, sd_bus_error*) { return onGetNameOwner(m, u, kMutterName); }
  static int onChanged(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int onNameRequested(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int onMonitorsChanged(sd_bus_message* m, void* userdata, sd_bus_error*);
};

void GnomeBus::Loop::apply(const ExtensionLink::Actions& actions) {
  for (const auto& line : actions.log)
    gnomeLog().info("%s", {line});
  {
    std::lock_guard lock(owner.mutex_);
    if (actions.clearWindows) owner.windows_.reset();
    owner.describe_ = link.describe();
  }
  if (actions.armGrace) timer = Clock::now() + *actions.armGrace;
  if (actions.tellUser && owner.callbacks_.tellUser) owner.callbacks_.tellUser(*actions.tellUser);
  if (actions.probe) probe();
  if (actions.readWindows) readWindows();
}

bool GnomeBus::Loop::call(const char* destination, const char* path, const char* interface, const char* member,
                          sd_bus_message_handler_t handler, const char* types, const char* arg1, const char* arg2) {
  // Arguments past those the signature names are not read.
  const int r =
      types ? sd_bus_call_method_async(bus, nullptr, destination, path, interface, member, handler, this, types, arg1,
                                       arg2)
            : sd_bus_call_method_async(bus, nullptr, destination, path, interface, member, handler, this, nullptr);
  if (r < 0) gnomeLog().info("could not call %s.%s: error %d", {interface, member, -r});
  return r >= 0;
}

void GnomeBus::Loop::probe() {
  if (probeCall.ask())
    probeCall.out = call(kShellName, kExtensionPath, "org.freedesktop.DBus.Properties", "Get", &Loop::onVersion, "ss",
                         kExtensionInterface, "Version");
}

void GnomeBus::Loop::readWindows() {
  if (windowsCall.ask())
    windowsCall.out = call(kShellName, kExtensionPath, kExtensionInterface, "Windows", &Loop::onWindows);
}

void GnomeBus::Loop::readState() {
  if (stateCall.ask())
    stateCall.out = call(kMutterName, kMutterPath, "org.gnome.Mutter.DisplayConfig", "GetCurrentState", &Loop::onState);
}

void GnomeBus::Loop::setScreens(std::vector<PlatformScreen> screens) {
  {
    std::lock_guard lock(owner.mutex_);
    owner.screens_ = std::move(screens);
  }
  if (owner.callbacks_.screensChanged) owner.callbacks_.screensChanged();
}

int GnomeBus::Loop::onVersion(sd_bus_message* m, void* userdata, sd_bus_error*) {
  Loop& l = self(userdata);
  // Something changed since this was asked; only the newer answer counts.
  if (l.probeCall.answered()) {
    l.probe();
    return 0;
  }
  std::optional<std::uint32_t> version;
  if (!sd_bus_message_is_method_error(m, nullptr)) version = readUint32Property(m);
  l.apply(l.link.versionRead(version));
  return 0;
}

int GnomeBus::Loop::onWindows(sd_bus_message* m, void* userdata, sd_bus_error*) {
  Loop& l = self(userdata);
  const bool newer = l.windowsCall.answered();
  if (sd_bus_message_is_method_error(m, SD_BUS_ERROR_ACCESS_DENIED)) {
    l.apply(l.link.windowsRefused());
    return 0;
  }
  std::optional<std::vector<ShellWindow>> windows;
  if (!sd_bus_message_is_method_error(m, nullptr)) windows = gnome::readWindows(m);
  if (!windows) {
    gnomeLog().debug("the extension's window list could not be read: %s", {errorText(m)});
    l.apply(l.link.windowsFailed(errorText(m)));
    return 0;
  }
  if (l.link.state() == ExtensionLink::State::connected) {
    std::lock_guard lock(l.owner.mutex_);
    l.owner.windows_ = std::move(windows);
  }
  l.apply(l.link.windowsRead());
  if (newer) l.readWindows();
  return 0;
}

int GnomeBus::Loop::onState(sd_bus_message* m, void* userdata, sd_bus_error*) {
  Loop& l = self(userdata);
  if (l.stateCall.answered()) {
    l.readState();
    return 0;
  }
  std::optional<MutterState> state;
  if (!sd_bus_message_is_method_error(m, nullptr)) state = readCurrentState(m);
  if (!state) {
    gnomeLog().info("Mutter's display configuration could not be read: %s", {errorText(m)});
    l.setScreens({});
    return 0;
  }
  std::vector<PlatformScreen> screens = screensFromState(*state);
  for (const auto& screen : screens)
    gnomeLog().debug("display %s frame=%s", {screen.localizedName, velmora::describe(screen.frame)});
  l.setScreens(std::move(screens));
  return 0;
}

int GnomeBus::Loop::onNameOwner(sd_bus_message* m, void* userdata, sd_bus_error*) {
  const char* sender = sd_bus_message_get_sender(m);
  if (!sender || std::string(sender) != "org.freedesktop.DBus") return 0;
  const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &oldOwner, &newOwner) < 0) return 0;
  self(userdata).ownerChanged(name, newOwner);
  return 0;
}

int GnomeBus::Loop::onGetNameOwner(sd_bus_message* m, void* userdata, const char* name) {
  const char* owner = "";
  if (!sd_bus_message_is_method_error(m, nullptr) && sd_bus_message_read(m, "s", &owner) < 0) owner = "";
  self(userdata).ownerChanged(name, owner);
  return 0;
}

void GnomeBus::Loop::ownerChanged(const std::string& name, const std::string& newOwner) {
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
int GnomeBus::Loop::onChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
  Loop& l = self(userdata);
  const char* sender = sd_bus_message_get_sender(m);
  if (!sender || l.shellOwner.empty() || l.shellOwner != sender) return 0;
  l.apply(l.link.changedSignal());
  return 0;
}

// The extension tells the window list to the owner of this name alone.
int GnomeBus::Loop::onNameRequested(sd_bus_message* m, void* userdata, sd_bus_error*) {
  Loop& l = self(userdata);
  std::uint32_t result = 0;
  if (!sd_bus_message_is_method_error(m, nullptr) && sd_bus_message_read(m, "u", &result) >= 0 &&
      result == 1 /* DBUS_REQUEST_NAME_REPLY_PRIMARY_OWNER */)
    return 0;
  gnomeLog().info("GNOME: could not own %s: %s",
                  {kWindowsReaderName, result ? "held by another program" : errorText(m)});
  l.apply(l.link.nameRefused());
  return 0;
}

int GnomeBus::Loop::onMonitorsChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
  Loop& l = self(userdata);
  const char* sender = sd_bus_message_get_sender(m);
  if (!sender || l.mutterOwner.empty() || l.mutterOwner != sender) return 0;
  l.readState();
  return 0;
}

bool GnomeBus::Loop::start() {
  int r = sd_bus_open_user(&bus);
  if (r < 0) {
    gnomeLog().info("GNOME: no session bus (error %d); windows and displays cannot be read", {-r});
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
    gnomeLog().info("GNOME: could not ask for %s (error %d)", {kWindowsReaderName, -r});
    apply(link.nameRefused());
  }
  for (const auto& match : matches) {
    r = sd_bus_add_match(bus, nullptr, match.rule.c_str(), match.handler, this);
    if (r < 0) {
      gnomeLog().info("GNOME: could not watch the session bus (error %d)", {-r});
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

// Until the thread is told to stop or the bus goes away.
void GnomeBus::Loop::serve() {
  for (;;) {
    if (const int r = processBus(bus); r < 0) {
      gnomeLog().info("GNOME: the session bus connection ended (error %d)", {-r});
      return;
    }
    if (timer && Clock::now() >= *timer) {
      timer.reset();
      apply(link.graceExpired());
      continue;
    }
    if (waitForBus(owner.worker_, bus, timer) == WorkerThread::Wake::stop) return;
  }
}

GnomeBus::GnomeBus(Callbacks callbacks) : callbacks_(std::move(callbacks)) {
  describe_ = ExtensionLink().describe();
  if (!worker_.start("gnome-bus", [this] { run(); })) gnomeLog().info("GNOME: cannot start the session-bus thread");
}

GnomeBus::~GnomeBus() {
  worker_.stop();
}

void GnomeBus::run() {
  Loop loop(*this);
  if (loop.start()) loop.serve();
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
