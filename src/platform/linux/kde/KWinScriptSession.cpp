#include "platform/linux/kde/KWinScriptSession.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/linux/common/BusWait.h"
#include "platform/linux/common/SessionLog.h"
#include "platform/linux/kde/KWinScript.h"
#include "platform/linux/kde/KWinScriptClient.h"

namespace velmora::linuxos {
namespace {

constexpr const char* kKWinName = "org.kde.KWin";
constexpr const char* kScripting = "org.kde.kwin.Scripting";
constexpr int kMaxLoadAttempts = 5;
constexpr std::uint64_t kCallTimeoutUsec = 3'000'000;

const Logger& kdeLog() {
  return sessionLog(SessionLog::kde);
}

KWinScriptSession& self(void* userdata) {
  return *static_cast<KWinScriptSession*>(userdata);
}

std::string errorText(sd_bus_message* m) {
  const sd_bus_error* e = sd_bus_message_get_error(m);
  if (e && e->message) return e->message;
  if (e && e->name) return e->name;
  return "no answer";
}

}  // namespace

KWinScriptSession::KWinScriptSession(KWinScriptClient& client, WorkerThread& worker)
    : client_(client), worker_(worker), windowList_(*client.options_.windowList) {}

KWinScriptSession::~KWinScriptSession() {
  sd_bus_slot_unref(pending_);
  if (bus_ && loaded_ && windowList_.kwinOwner()) {
    const std::string name(kKWinScriptPluginName);
    // No answer is awaited: the call goes out with the flush below.
    sd_bus_call_method_async(bus_, nullptr, kKWinName, "/Scripting", kScripting, "unloadScript", nullptr, nullptr, "s",
                             name.c_str());
  }
  sd_bus_slot_unref(matchSlot_);
  sd_bus_slot_unref(objectSlot_);
  if (bus_) sd_bus_flush_close_unref(bus_);
}

bool KWinScriptSession::open(std::string* why) {
  int r = sd_bus_open_user(&bus_);
  if (r < 0) {
    *why = std::string("No session bus to reach KWin: ") + std::strerror(-r);
    return false;
  }
  sd_bus_set_method_call_timeout(bus_, kCallTimeoutUsec);
  const char* unique = nullptr;
  if (sd_bus_get_unique_name(bus_, &unique) < 0 || !unique) {
    *why = "The session bus gave Velmora no name";
    return false;
  }
  const std::optional<std::string> text = kwinScriptFor(unique);
  if (!text) {
    *why = "The KWin window script cannot be addressed to " + std::string(unique);
    return false;
  }
  std::error_code ec;
  const auto tempDir = std::filesystem::temp_directory_path(ec);
  script_ = KWinScriptFile::write(client_.options_.runtimeDir, ec ? "/tmp" : tempDir,
                                  "kwin-windows-" + std::to_string(::getpid()) + ".js", *text, why);
  if (!script_) return false;

  static constexpr sd_bus_vtable vtable[] = {
      SD_BUS_VTABLE_START(0),
      SD_BUS_METHOD("Report", "s", "", &KWinScriptSession::onReport, SD_BUS_VTABLE_UNPRIVILEGED),
      SD_BUS_VTABLE_END,
  };
  const std::string path(kKWinReportsPath), interface(kKWinReportsInterface);
  r = sd_bus_add_object_vtable(bus_, &objectSlot_, path.c_str(), interface.c_str(), vtable, this);
  if (r >= 0)
    r = sd_bus_match_signal(bus_, &matchSlot_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                            "NameOwnerChanged", &KWinScriptSession::onNameOwnerChanged, this);
  if (r < 0) {
    *why = std::string("Could not listen on the session bus: ") + std::strerror(-r);
    return false;
  }

  // Asked once the match is in place, so no change falls between; the bus
  // daemon answers at once.
  std::optional<std::string> owner;
  sd_bus_message* reply = nullptr;
  const char* name = nullptr;
  if (sd_bus_call_method(bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
                         nullptr, &reply, "s", kKWinName) >= 0 &&
      sd_bus_message_read(reply, "s", &name) >= 0 && name)
    owner = name;
  sd_bus_message_unref(reply);
  if (owner) {
    kwinChanged(owner);
  } else {
    client_.setState("waiting for KWin");
    missingAt_ = Clock::now() + client_.options_.kwinGrace;
  }
  return true;
}

bool KWinScriptSession::serve(std::string* why) {
  for (;;) {
    if (const int r = processBus(bus_); r < 0) {
      kdeLog().info("Session bus connection lost: %s", {std::strerror(-r)});
      *why = "Lost the session bus, so KWin's window reports stopped";
      return false;
    }
    fireDueTimers();
    if (waitForBus(worker_, bus_, nextTimer()) == WorkerThread::Wake::stop) return true;
  }
}

void KWinScriptSession::fireDueTimers() {
  const auto now = Clock::now();
  if (loadAt_ && *loadAt_ <= now) {
    loadAt_.reset();
    startLoad();
  }
  if (missingAt_ && *missingAt_ <= now) {
    missingAt_.reset();
    client_.trouble("KWin is not on the session bus, so no window list is available");
  }
  if (silentAt_ && *silentAt_ <= now) {
    silentAt_.reset();
    client_.setState("the KWin script sends no reports");
    client_.trouble("KWin runs the window script but it sends no reports");
  }
}

std::optional<WorkerThread::Clock::time_point> KWinScriptSession::nextTimer() const {
  std::optional<Clock::time_point> next;
  for (const auto& at : {loadAt_, missingAt_, silentAt_})
    if (at && (!next || *at < *next)) next = at;
  return next;
}

void KWinScriptSession::kwinChanged(std::optional<std::string> owner) {
  windowList_.setKWinOwner(owner);
  loaded_ = false;
  silentAt_.reset();
  pending_ = sd_bus_slot_unref(pending_);
  if (!owner) {
    kdeLog().info("KWin left the session bus; waiting for it to come back");
    client_.setState("waiting for KWin");
    loadAt_.reset();
    return;
  }
  missingAt_.reset();
  attempts_ = 0;
  loadAt_ = Clock::now();
}

bool KWinScriptSession::callKWin(const char* path, const char* interface, const char* member,
                                 sd_bus_message_handler_t handler, const char* types, const char* a, const char* b) {
  pending_ = sd_bus_slot_unref(pending_);
  // Arguments past those the signature names are not read.
  const int r =
      types ? sd_bus_call_method_async(bus_, &pending_, kKWinName, path, interface, member, handler, this, types, a, b)
            : sd_bus_call_method_async(bus_, &pending_, kKWinName, path, interface, member, handler, this, nullptr);
  if (r < 0) loadFailed(std::string("could not call KWin: ") + std::strerror(-r));
  return r >= 0;
}

// A copy left by an earlier run of ours would keep the name taken.
void KWinScriptSession::startLoad() {
  if (!windowList_.kwinOwner()) return;
  reportedSinceLoad_ = false;
  const std::string name(kKWinScriptPluginName);
  callKWin("/Scripting", kScripting, "isScriptLoaded", &KWinScriptSession::onIsLoaded, "s", name.c_str());
}

int KWinScriptSession::onIsLoaded(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto& s = self(userdata);
  int isLoaded = 0;
  if (!sd_bus_message_is_method_error(m, nullptr) && sd_bus_message_read(m, "b", &isLoaded) >= 0 && isLoaded) {
    const std::string name(kKWinScriptPluginName);
    s.callKWin("/Scripting", kScripting, "unloadScript", &KWinScriptSession::onStaleUnloaded, "s", name.c_str());
  } else {
    s.loadScript();
  }
  return 0;
}

int KWinScriptSession::onStaleUnloaded(sd_bus_message*, void* userdata, sd_bus_error*) {
  self(userdata).loadScript();
  return 0;
}

void KWinScriptSession::loadScript() {
  const std::string name(kKWinScriptPluginName);
  callKWin("/Scripting", kScripting, "loadScript", &KWinScriptSession::onLoadScript, "ss", script_->path().c_str(),
           name.c_str());
}

int KWinScriptSession::onLoadScript(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto& s = self(userdata);
  if (sd_bus_message_is_method_error(m, nullptr)) {
    s.loadFailed(errorText(m));
    return 0;
  }
  std::int32_t id = -1;
  if (sd_bus_message_read(m, "i", &id) < 0 || id < 0) {
    s.loadFailed("KWin refused to load the script (scripting may be disabled)");
    return 0;
  }
  s.scriptId_ = id;
  s.runScript(0);
  return 0;
}

// Plasma 6 puts the script at /Scripting/Script<id>, Plasma 5 at /<id>; the
// oldest way, starting every loaded script, is the last resort.
void KWinScriptSession::runScript(int step) {
  runStep_ = step;
  const std::string id = std::to_string(scriptId_);
  const std::string path = step == 0 ? "/Scripting/Script" + id : "/" + id;
  if (step < 2)
    callKWin(path.c_str(), "org.kde.kwin.Script", "run", &KWinScriptSession::onRun);
  else
    callKWin("/Scripting", kScripting, "start", &KWinScriptSession::onRun);
}

int KWinScriptSession::onRun(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto& s = self(userdata);
  if (!sd_bus_message_is_method_error(m, nullptr))
    s.loaded();
  else if (s.runStep_ < 2)
    s.runScript(s.runStep_ + 1);
  else
    s.loadFailed(errorText(m));
  return 0;
}

void KWinScriptSession::loaded() {
  pending_ = sd_bus_slot_unref(pending_);
  kdeLog().info("KWin window script loaded");
  loaded_ = true;
  attempts_ = 0;
  // The script may report before KWin answers that it runs.
  if (reportedSinceLoad_) return;
  silentAt_ = Clock::now() + client_.options_.firstReportGrace;
  client_.setState("waiting for the KWin script's first report");
}

void KWinScriptSession::loadFailed(const std::string& why) {
  pending_ = sd_bus_slot_unref(pending_);
  // KWin may own its name a moment before its scripting object is ready.
  if (++attempts_ < kMaxLoadAttempts) {
    loadAt_ = Clock::now() + std::chrono::milliseconds(300 * attempts_);
    return;
  }
  client_.setState("KWin refused the window script");
  client_.trouble("KWin did not run the window script: " + why);
}

int KWinScriptSession::onReport(sd_bus_message* m, void* userdata, sd_bus_error* error) {
  auto& s = self(userdata);
  const char* text = nullptr;
  if (sd_bus_message_read(m, "s", &text) < 0) text = "";
  const char* sender = sd_bus_message_get_sender(m);
  const KWinWindowList::Receipt receipt = s.windowList_.receive(sender ? sender : "", text);
  switch (receipt.outcome) {
    case KWinWindowList::Outcome::foreignSender:
      if (receipt.firstOfItsKind)
        kdeLog().info("Ignoring a window report from %s, which is not KWin", {sender ? sender : "(unknown)"});
      return sd_bus_error_set(error, SD_BUS_ERROR_ACCESS_DENIED, "only KWin may report windows");
    case KWinWindowList::Outcome::malformed:
      if (receipt.firstOfItsKind) kdeLog().info("Ignoring a malformed window report from KWin: %s", {receipt.error});
      return sd_bus_error_set(error, SD_BUS_ERROR_INVALID_ARGS, "malformed window report");
    case KWinWindowList::Outcome::accepted:
      if (!s.reportedSinceLoad_) {
        s.reportedSinceLoad_ = true;
        s.silentAt_.reset();
        const int api = s.windowList_.api().value_or(0);
        kdeLog().info("KWin window script reporting (Plasma %d scripting API)", {api});
        s.client_.setState("KWin script, Plasma " + std::to_string(api) + " API");
      }
      break;
  }
  return sd_bus_reply_method_return(m, "");
}

int KWinScriptSession::onNameOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
  const char *name = nullptr, *before = nullptr, *after = nullptr;
  if (sd_bus_message_read(m, "sss", &name, &before, &after) < 0 || !name || std::strcmp(name, kKWinName) != 0) return 0;
  self(userdata).kwinChanged(after && *after ? std::optional<std::string>(after) : std::nullopt);
  return 0;
}

}  // namespace velmora::linuxos
