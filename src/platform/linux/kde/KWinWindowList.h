#pragma once

// The latest window snapshot from our KWin script, and the rule for who may
// deliver one: only KWin's current unique bus name, since any client on the
// session bus can call our object. Thread-safe: the bus thread writes, polls
// read from any thread without a round trip to KWin.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Windows.h"
#include "platform/linux/kde/KWinReportFormat.h"
#include "platform/linux/proc/ProcApplications.h"

namespace velmora::linuxos {

class KWinWindowList {
 public:
  enum class Outcome { accepted, foreignSender, malformed };

  struct Receipt {
    Outcome outcome = Outcome::accepted;
    // True the first time a report is refused for this reason, so the caller
    // logs each kind of trouble once rather than per report.
    bool firstOfItsKind = false;
    std::string error;
  };

  // KWin's unique name, or none while KWin is not on the bus. A new owner
  // means a new KWin: the old snapshot describes windows that are gone.
  void setKWinOwner(std::optional<std::string> uniqueName);
  std::optional<std::string> kwinOwner() const;

  Receipt receive(std::string_view sender, std::string_view text);

  // Front to back; none before the first good report of the current KWin.
  std::optional<std::vector<WindowListEntry>> windows() const;
  std::optional<std::vector<WindowListEntry>> windowsOf(Pid owner) const;
  // Processes owning a window, without a class name (the script sends none).
  WindowOwners owners() const;
  // The scripting API of the latest report (5 or 6), none before one.
  std::optional<int> api() const;
  bool hasReport() const;

 private:
  std::shared_ptr<const KWinSnapshot> current() const;

  mutable std::mutex mutex_;
  std::optional<std::string> owner_;
  std::shared_ptr<const KWinSnapshot> snapshot_;
  bool loggedForeign_ = false;
  bool loggedMalformed_ = false;
};

}  // namespace velmora::linuxos
