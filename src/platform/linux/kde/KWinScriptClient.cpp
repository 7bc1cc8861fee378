#include "platform/linux/kde/KWinScriptClient.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Log.h"
#include "platform/ThreadStart.h"
#include "platform/linux/kde/KWinScript.h"

namespace velmora::linuxos {

const char* const kKWinUnavailableMessage =
    "Velmora cannot see your windows: KDE's window manager (KWin) did not let it run its small window script. "
    "Sound stays on the output you choose until this is fixed. Check that KWin scripts are allowed on this "
    "computer, then start Velmora again.";

namespace {

using Clock = std::chrono::steady_clock;

const Logger& kdeLog() {
  static const Logger logger(kVelmoraSubsystem, "Platform");
  return logger;
}

constexpr const char* kKWinName = "org.kde.KWin";
constexpr int kMaxLoadAttempts = 5;

std::string errorText(const sd_bus_error& error, int r) {
  if (error.message) return error.message;
  if (error.name) return error.name;
  return std::strerror(-r);
}

bool writePrivateFile(const std::filesystem::path& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return close(fd) == 0 && done == text.size();
}

}  // namespace

struct KWinScriptClient::Bus {
  KWinScriptClient* client = nullptr;
  KWinReports* reports = nullptr;
  sd_bus* bus = nullptr;
  sd_bus_slot* objectSlot = nullptr;
  sd_bus_slot* matchSlot = nullptr;
  std::string uniqueName;
  std::filesystem::path scriptPath;
  bool loaded = false;
  bool reportedSinceLoad = false;
  int attempts = 0;
  std::optional<Clock::time_point> loadAt;     // next load attempt
  std::optional<Clock::time_point> missingAt;  // KWin still absent: tell the user
  std::optional<Clock::time_point> silentAt;   // script loaded but silent: tell the user

  ~Bus() {
    sd_bus_slot_unref(matchSlot);
    sd_bus_slot_unref(objectSlot);
    if (bus) sd_bus_flush_close_unref(bus);
    if (!scriptPath.empty()) {
      std::error_code ignored;
      std::filesystem::remove(scriptPath, ignored);
    }
  }

  // A method call to KWin; false with the reason in *why.
  bool call(const char* path, const char* interface, const char* member, sd_bus_message** reply, std::string* why,
            const char* types = nullptr, const char* a = nullptr, const char* b = nullptr) {
    sd_bus_error error{};  // all null, as SD_BUS_ERROR_NULL, without a C compound literal
    int r = 0;
    if (!types) {
      r = sd_bus_call_method(bus, kKWinName, path, interface, member, &error, reply, "");
    } else if (!b) {
      r = sd_bus_call_method(bus, kKWinName, path, interface, member, &error, reply, types, a);
    } else {
      r = sd_bus_call_method(bus, kKWinName, path, interface, member, &error, reply, types, a, b);
    }
    if (r < 0 && why) *why = errorText(error, r);
    sd_bus_error_free(&error);
    return r >= 0;
  }

  bool load(std::string* why) {
    const std::string name(kKWinScriptPluginName);
    sd_bus_message* reply = nullptr;
    // A copy left by an earlier run of ours would keep the name taken.
    if (call("/Scripting", "org.kde.kwin.Scripting", "isScriptLoaded", &reply, why, "s", name.c_str())) {
      int isLoaded = 0;
      if (sd_bus_message_read(reply, "b", &isLoaded) >= 0 && isLoaded) {
        call("/Scripting", "org.kde.kwin.Scripting", "unloadScript", nullptr, nullptr, "s", name.c_str());
      }
      sd_bus_message_unref(reply);
      reply = nullptr;
    }
    if (!call("/Scripting", "org.kde.kwin.Scripting", "loadScript", &reply, why, "ss", scriptPath.c_str(),
              name.c_str())) {
      return false;
    }
    std::int32_t id = -1;
    const int r = sd_bus_message_read(reply, "i", &id);
    sd_bus_message_unref(reply);
    if (r < 0 || id < 0) {
      *why = "KWin refused to load the script (scripting may be disabled)";
      return false;
    }
    // Plasma 6 puts the script at /Scripting/Script<id>, Plasma 5 at /<id>;
    // the oldest way, starting every loaded script, is the last resort.
    const std::string paths[] = {"/Scripting/Script" + std::to_string(id), "/" + std::to_string(id)};
    for (const std::string& path : paths) {
      if (call(path.c_str(), "org.kde.kwin.Script", "run", nullptr, nullptr)) return true;
    }
    return call("/Scripting", "org.kde.kwin.Scripting", "start", nullptr, why);
  }

  void unload() {
    if (!loaded || !reports->kwinOwner()) return;
    const std::string name(kKWinScriptPluginName);
    call("/Scripting", "org.kde.kwin.Scripting", "unloadScript", nullptr, nullptr, "s", name.c_str());
    loaded = false;
  }

  void attemptLoad() {
    loadAt.reset();
    if (!reports->kwinOwner()) return;
    std::string why;
    if (load(&why)) {
      kdeLog().info("KWin window script loaded");
      loaded = true;
      reportedSinceLoad = false;
      attempts = 0;
      silentAt = Clock::now() + client->options_.firstReportGrace;
      client->setState("waiting for the KWin script's first report");
      return;
    }
    // KWin may own its name a moment before its scripting object is ready.
    if (++attempts < kMaxLoadAttempts) {
      loadAt = Clock::now() + std::chrono::milliseconds(300 * attempts);
      return;
    }
    client->setState("KWin refused the window script");
    client->trouble("KWin did not run the window script: " + why);
  }

  void kwinChanged(std::optional<std::string> owner) {
    reports->setKWinOwner(owner);
    loaded = false;
    silentAt.reset();
    if (!owner) {
      kdeLog().info("KWin left the session bus; waiting for it to come back");
      client->setState("waiting for KWin");
      loadAt.reset();
      return;
    }
    missingAt.reset();
    attempts = 0;
    loadAt = Clock::now();
  }

  static int onReport(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto& self = *static_cast<Bus*>(userdata);
    const char* text = nullptr;
    if (sd_bus_message_read(m, "s", &text) < 0) text = "";
    const char* sender = sd_bus_message_get_sender(m);
    const KWinReports::Receipt receipt = self.reports->receive(sender ? sender : "", text);
    switch (receipt.outcome) {
      case KWinReports::Outcome::foreignSender:
        if (receipt.firstOfItsKind) {
          kdeLog().info("Ignoring a window report from %s, which is not KWin", {sender ? sender : "(unknown)"});
        }
        return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "only KWin may report windows");
      case KWinReports::Outcome::malformed:
        if (receipt.firstOfItsKind) {
          kdeLog().info("Ignoring a malformed window report from KWin: %s", {receipt.error});
        }
        return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "malformed window report");
      case KWinReports::Outcome::accepted:
        if (!self.reportedSinceLoad) {
          self.reportedSinceLoad = true;
          self.silentAt.reset();
          const int api = self.reports->api().value_or(0);
          kdeLog().info("KWin window script reporting (Plasma %d scripting API)", {api});
          self.client->setState("KWin script, Plasma " + std::to_string(api) + " API");
        }
        break;
    }
    return sd_bus_reply_method_return(m, "");
  }

  static int onNameOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto& self = *static_cast<Bus*>(userdata);
    const char *name = nullptr, *before = nullptr, *after = nullptr;
    if (sd_bus_message_read(m, "sss", &name, &before, &after) < 0 || !name || std::strcmp(name, kKWinName) != 0) {
      return 0;
    }
    self.kwinChanged(after && *after ? std::optional<std::string>(after) : std::nullopt);
    return 0;
  }

  static constexpr sd_bus_vtable vtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("Report", "s", "", onReport, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END,
  };
};

KWinScriptClient::KWinScriptClient(Options options) : options_(std::move(options)) {
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  // Without a way to stop it, the thread could never be joined.
  if (stopFd_ < 0) {
    kdeLog().info("Could not start the KDE back end's thread: %s", {std::strerror(errno)});
    return;
  }
  thread_ = std::thread([this] {
    runThreadStartHook();
    run();
  });
}

KWinScriptClient::~KWinScriptClient() {
  const std::uint64_t one = 1;
  if (stopFd_ >= 0 && write(stopFd_, &one, sizeof one) < 0) {
    // Nothing to do: the thread would then wait for the bus alone.
  }
  if (thread_.joinable()) thread_.join();
  if (stopFd_ >= 0) close(stopFd_);
}

std::string KWinScriptClient::state() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void KWinScriptClient::setState(std::string state) {
  std::lock_guard lock(mutex_);
  state_ = std::move(state);
}

void KWinScriptClient::trouble(const std::string& reason) {
  bool tell = false;
  {
    std::lock_guard lock(mutex_);
    if (!loggedTrouble_.insert(reason).second) return;
    tell = !toldUser_;
    toldUser_ = true;
  }
  kdeLog().info("%s", {reason});
  if (tell && options_.tellUser) options_.tellUser(kKWinUnavailableMessage);
}

void KWinScriptClient::run() {
  Bus b;
  b.client = this;
  b.reports = options_.reports.get();
  auto stopped = [this](int timeoutMs) {
    pollfd fd{stopFd_, POLLIN, 0};
    return poll(&fd, 1, timeoutMs) > 0;
  };
  auto giveUp = [&](const std::string& reason) {
    setState("no window list");
    trouble(reason);
    stopped(-1);
  };

  int r = sd_bus_open_user(&b.bus);
  if (r < 0) return giveUp(std::string("No session bus to reach KWin: ") + std::strerror(-r));
  sd_bus_set_method_call_timeout(b.bus, 3'000'000);
  const char* unique = nullptr;
  if (sd_bus_get_unique_name(b.bus, &unique) < 0 || !unique) return giveUp("The session bus gave Velmora no name");
  b.uniqueName = unique;

  const std::optional<std::string> script = kwinScriptFor(b.uniqueName);
  std::error_code ec;
  std::filesystem::create_directories(options_.scriptDir, ec);
  std::filesystem::permissions(options_.scriptDir, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace, ec);
  b.scriptPath = options_.scriptDir / ("kwin-windows-" + std::to_string(getpid()) + ".js");
  if (!script || !writePrivateFile(b.scriptPath, *script)) {
    b.scriptPath.clear();
    return giveUp("Could not write the KWin window script to " + options_.scriptDir.string());
  }

  const std::string path(kKWinReportsPath), interface(kKWinReportsInterface);
  r = sd_bus_add_object_vtable(b.bus, &b.objectSlot, path.c_str(), interface.c_str(), Bus::vtable, &b);
  if (r >= 0) {
    r = sd_bus_match_signal(b.bus, &b.matchSlot, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                            "org.freedesktop.DBus", "NameOwnerChanged", Bus::onNameOwnerChanged, &b);
  }
  if (r < 0) return giveUp(std::string("Could not listen on the session bus: ") + std::strerror(-r));

  std::optional<std::string> owner;
  sd_bus_message* reply = nullptr;
  const char* name = nullptr;
  if (sd_bus_call_method(b.bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
                         nullptr, &reply, "s", kKWinName) >= 0 &&
      sd_bus_message_read(reply, "s", &name) >= 0 && name) {
    owner = name;
  }
  sd_bus_message_unref(reply);
  if (owner) {
    b.kwinChanged(owner);
  } else {
    setState("waiting for KWin");
    b.missingAt = Clock::now() + options_.kwinGrace;
  }

  for (;;) {
    while ((r = sd_bus_process(b.bus, nullptr)) > 0) {
    }
    if (r < 0) {
      kdeLog().info("Session bus connection lost: %s", {std::strerror(-r)});
      return giveUp("Lost the session bus, so KWin's window reports stopped");
    }
    const auto now = Clock::now();
    if (b.loadAt && *b.loadAt <= now) b.attemptLoad();
    if (b.missingAt && *b.missingAt <= now) {
      b.missingAt.reset();
      trouble("KWin is not on the session bus, so no window list is available");
    }
    if (b.silentAt && *b.silentAt <= now) {
      b.silentAt.reset();
      setState("the KWin script sends no reports");
      trouble("KWin runs the window script but it sends no reports");
    }

    // Sleep until the bus, a stop, or the nearest deadline.
    std::optional<Clock::time_point> next;
    for (const auto& at : {b.loadAt, b.missingAt, b.silentAt}) {
      if (at && (!next || *at < *next)) next = at;
    }
    int timeoutMs = -1;
    if (next) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*next - Clock::now()).count();
      timeoutMs = static_cast<int>(std::max<long long>(0, left) + 1);
    }
    std::uint64_t busTimeout = 0;
    if (sd_bus_get_timeout(b.bus, &busTimeout) > 0 && busTimeout != UINT64_MAX) {
      timespec ts{};
      clock_gettime(CLOCK_MONOTONIC, &ts);
      const std::uint64_t nowUs = static_cast<std::uint64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
      const int busMs = busTimeout > nowUs ? static_cast<int>((busTimeout - nowUs + 999) / 1000) : 0;
      if (timeoutMs < 0 || busMs < timeoutMs) timeoutMs = busMs;
    }
    pollfd fds[2] = {{sd_bus_get_fd(b.bus), static_cast<short>(sd_bus_get_events(b.bus)), 0}, {stopFd_, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) < 0 && errno != EINTR) break;
    if (fds[1].revents) break;
  }
  b.unload();
}

}  // namespace velmora::linuxos
