#include "platform/linux/kde/KWinScriptClient.h"

#include "platform/linux/common/SessionLog.h"
#include "platform/linux/kde/KWinScriptSession.h"

namespace velmora::linuxos {

const char* const kKWinUnavailableMessage =
    "Velmora cannot see your windows: KDE's window manager (KWin) did not let it run its small window script. "
    "Sound stays on the output you choose until this is fixed. Check that KWin scripts are allowed on this "
    "computer, then start Velmora again.";

KWinScriptClient::KWinScriptClient(Options options) : options_(std::move(options)) {
  if (!worker_.start("kwin-script", [this] { run(); }))
    sessionLog(SessionLog::kde).info("Could not start the KDE back end's window thread");
}

KWinScriptClient::~KWinScriptClient() {
  worker_.stop();
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
  sessionLog(SessionLog::kde).info("%s", {reason});
  if (tell && options_.tellUser) options_.tellUser(kKWinUnavailableMessage);
}

void KWinScriptClient::run() {
  KWinScriptSession session(*this, worker_);
  std::string why;
  if (session.open(&why) && session.serve(&why)) return;
  // Nothing more to do here until the owner stops the thread.
  setState("no window list");
  trouble(why);
  worker_.wait({}, std::nullopt);
}

}  // namespace velmora::linuxos
