#pragma once

// Whether Velmora's GNOME Shell extension answers, and what to do about it:
// which call to make next, what to log, when to tell the user. Pure state,
// driven by GnomeBus with what the bus says; each event returns the actions.
//
// A Shell that has just appeared has not loaded its extensions yet, so a
// first failed probe is only believed after a grace period (the extension
// announces itself with Changed as soon as it is enabled, which ends the wait
// early). An extension that answers its version but cannot list windows (a
// Shell call it makes fails on this GNOME) is asked again only after a
// back-off. The user is told at most once per run; each fall into a problem
// is logged once.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/common/Backoff.h"

namespace velmora::linuxos::gnome {

inline constexpr const char* kExtensionUuid = "velmora@quennet.co";
// The name Velmora holds on the session bus; the extension tells the window
// list to its owner alone.
inline constexpr const char* kWindowsReaderName = "co.quennet.Velmora.Windows";
// The interface versions of the extension this build speaks.
inline constexpr std::uint32_t kKnownExtensionVersion = 1;

class ExtensionLink {
 public:
  enum class State { noShell, checking, grace, connected, missing, unknownVersion, failing, refused, nameTaken };

  static constexpr std::chrono::milliseconds kGrace{10000};

  struct Actions {
    bool probe = false;         // read the extension's Version
    bool readWindows = false;   // call Windows()
    bool clearWindows = false;  // the last list no longer holds
    // graceExpired() after this: the grace for a Shell that just appeared,
    // or the back-off for a failing extension.
    std::optional<std::chrono::milliseconds> armGrace;
    std::vector<std::string> log;
    std::optional<std::string> tellUser;
  };

  Actions shellAppeared();
  Actions shellVanished();
  Actions changedSignal();
  // nullopt: the Version could not be read (no such object, no reply).
  Actions versionRead(std::optional<std::uint32_t> version);
  Actions windowsRead();
  // reason: the bus error, for the log.
  Actions windowsFailed(const std::string& reason = {});
  // The extension refused the list: it does not take us for the owner of
  // kWindowsReaderName (yet: it learns of a new owner a moment later).
  Actions windowsRefused();
  // kWindowsReaderName could not be had; nothing is read for the rest of the
  // run.
  Actions nameRefused();
  Actions graceExpired();

  State state() const { return state_; }
  // For the diagnostics line.
  std::string describe() const;

  // What the user is told, for a missing extension (no version) or one of a
  // version this build does not know.
  static std::string userMessage(std::optional<std::uint32_t> unknownVersion);
  // What the user is told about an extension that cannot list windows.
  static std::string failingMessage();
  // What the user is told when the list is refused or the name is taken.
  static std::string refusalMessage(State problem);

 private:
  Actions declare(State problem, std::optional<std::uint32_t> version, const std::string& reason = {});

  State state_ = State::noShell;
  // The problem last logged; connected when none since the last success.
  State declared_ = State::connected;
  bool graceUsed_ = false;
  // The refusal's grace, once per Shell: a connection that is refused again
  // after its version was read is not given another.
  bool refusalGraceUsed_ = false;
  bool told_ = false;
  // Whether Windows() answered since the version was last read.
  bool listedSinceProbe_ = false;
  std::uint32_t version_ = 0;
  Backoff retry_;
};

}  // namespace velmora::linuxos::gnome
