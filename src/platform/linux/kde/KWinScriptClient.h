#pragma once

// Velmora's side of the KWin script, over sd-bus on a thread of its own: it
// writes the script addressed to our unique bus name, has KWin load and run
// it, exports the object the script reports to, follows KWin across restarts
// (NameOwnerChanged) and unloads the script at exit. Reports go into a
// KWinWindowList; polls read them there. Every call to KWin is asynchronous, so
// a KWin that hangs never holds up quitting.

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "platform/linux/common/WorkerThread.h"
#include "platform/linux/kde/KWinWindowList.h"

namespace velmora::linuxos {

class KWinScriptClient {
 public:
  struct Options {
    std::shared_ptr<KWinWindowList> windowList;
    // Called once, the first time KWin cannot be used; may be null.
    std::function<void(const std::string&)> tellUser;
    // The session's private runtime folder ($XDG_RUNTIME_DIR), where the copy
    // of the script goes; see KWinScriptFile.
    std::optional<std::string> runtimeDir;
    // How long KWin may take to appear on the bus at start, and to send the
    // first report once the script runs.
    std::chrono::milliseconds kwinGrace{10000};
    std::chrono::milliseconds firstReportGrace{10000};
  };

  explicit KWinScriptClient(Options options);
  ~KWinScriptClient();

  KWinScriptClient(const KWinScriptClient&) = delete;
  KWinScriptClient& operator=(const KWinScriptClient&) = delete;

  // One plain phrase for the diagnostics line.
  std::string state() const;

 private:
  friend class KWinScriptSession;

  void run();
  void setState(std::string state);
  // Logs each reason once, and tells the user the first time.
  void trouble(const std::string& reason);

  Options options_;
  mutable std::mutex mutex_;
  std::string state_ = "starting";
  std::set<std::string> loggedTrouble_;
  bool toldUser_ = false;
  WorkerThread worker_;
};

// What the user reads when KWin cannot give Velmora the window list.
extern const char* const kKWinUnavailableMessage;

}  // namespace velmora::linuxos
