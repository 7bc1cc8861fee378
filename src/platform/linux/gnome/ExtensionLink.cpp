#include "platform/linux/gnome/ExtensionLink.h"

namespace velmora::linuxos::gnome {

namespace {

std::string connectedLine(std::uint32_t version) {
  return std::string("GNOME Shell extension ") + kExtensionUuid + " connected (interface version " +
         std::to_string(version) + ")";
}

}  // namespace

ExtensionLink::Actions ExtensionLink::shellAppeared() {
  if (state_ == State::nameTaken) return {};
  state_ = State::checking;
  graceUsed_ = false;
  refusalGraceUsed_ = false;
  Actions actions;
  actions.probe = true;
  return actions;
}

ExtensionLink::Actions ExtensionLink::shellVanished() {
  Actions actions;
  if (state_ == State::noShell || state_ == State::nameTaken) return actions;
  state_ = State::noShell;
  declared_ = State::connected;
  actions.clearWindows = true;
  actions.log.push_back("GNOME Shell left the session bus; waiting for it to come back");
  return actions;
}

ExtensionLink::Actions ExtensionLink::changedSignal() {
  Actions actions;
  // A failing extension signals as often as windows change; it is asked
  // again when its back-off ends.
  if (state_ == State::failing || state_ == State::nameTaken) return actions;
  if (state_ == State::connected) {
    actions.readWindows = true;
  } else {
    // An extension that was just enabled, or one that answered nothing a
    // moment ago: ask again (an answer still on its way is dropped).
    if (state_ == State::noShell) graceUsed_ = false;
    state_ = State::checking;
    actions.probe = true;
  }
  return actions;
}

ExtensionLink::Actions ExtensionLink::versionRead(std::optional<std::uint32_t> version) {
  Actions actions;
  if (state_ == State::noShell || state_ == State::nameTaken) return actions;
  if (!version) {
    if (!graceUsed_) {
      graceUsed_ = true;
      state_ = State::grace;
      actions.armGrace = kGrace;
      return actions;
    }
    return declare(State::missing, std::nullopt);
  }
  if (*version != kKnownExtensionVersion) return declare(State::unknownVersion, version);
  const bool wasConnected = state_ == State::connected;
  state_ = State::connected;
  version_ = *version;
  graceUsed_ = false;
  listedSinceProbe_ = false;
  actions.readWindows = true;
  // One that failed to list windows is believed again once it lists them.
  if (declared_ == State::failing) return actions;
  declared_ = State::connected;
  if (!wasConnected) actions.log.push_back(connectedLine(*version));
  return actions;
}

ExtensionLink::Actions ExtensionLink::windowsRead() {
  Actions actions;
  if (state_ != State::connected) return actions;
  listedSinceProbe_ = true;
  retry_.reset();
  if (declared_ == State::failing) {
    declared_ = State::connected;
    actions.log.push_back(connectedLine(version_));
  }
  return actions;
}

ExtensionLink::Actions ExtensionLink::windowsFailed(const std::string& reason) {
  Actions actions;
  if (state_ != State::connected) return actions;
  if (!listedSinceProbe_) {
    // It answers its version and still cannot list: asking again at once
    // would only fail again.
    actions = declare(State::failing, std::nullopt, reason);
    actions.armGrace = retry_.next();
    return actions;
  }
  // Disabled, or replaced by another version: ask again what is there.
  state_ = State::checking;
  actions.clearWindows = true;
  actions.probe = true;
  return actions;
}

ExtensionLink::Actions ExtensionLink::windowsRefused() {
  if (state_ != State::connected) return {};
  if (refusalGraceUsed_) return declare(State::refused, std::nullopt);
  // The extension sends Changed once it knows us: wait for it a while.
  refusalGraceUsed_ = true;
  state_ = State::grace;
  Actions actions;
  actions.clearWindows = true;
  actions.armGrace = kGrace;
  return actions;
}

ExtensionLink::Actions ExtensionLink::nameRefused() {
  if (state_ == State::nameTaken) return {};
  return declare(State::nameTaken, std::nullopt);
}

ExtensionLink::Actions ExtensionLink::graceExpired() {
  Actions actions;
  if (state_ != State::grace && state_ != State::failing) return actions;
  state_ = State::checking;
  actions.probe = true;
  return actions;
}

ExtensionLink::Actions ExtensionLink::declare(State problem, std::optional<std::uint32_t> version,
                                              const std::string& reason) {
  Actions actions;
  actions.clearWindows = true;
  const bool again =
      declared_ == problem && (problem != State::unknownVersion || version_ == version.value_or(version_));
  state_ = problem;
  declared_ = problem;
  if (version) version_ = *version;
  if (again) return actions;
  const std::string extension = std::string("GNOME Shell extension ") + kExtensionUuid;
  if (problem == State::refused || problem == State::nameTaken) {
    actions.log.push_back(problem == State::refused
                              ? std::string("GNOME Shell extension ") + kExtensionUuid +
                                    " refuses the window list to Velmora; windows cannot be followed"
                              : std::string("the name ") + kWindowsReaderName +
                                    " is held by another program; windows cannot be followed");
    if (!told_) {
      told_ = true;
      actions.tellUser = refusalMessage(problem);
    }
    return actions;
  }
  if (problem == State::missing)
    actions.log.push_back(extension +
                          " is not running (not installed, disabled or failed); windows cannot be followed until it "
                          "is enabled");
  else if (problem == State::failing)
    actions.log.push_back(extension + " answers but cannot list windows (" + (reason.empty() ? "no reply" : reason) +
                          "); asking again later");
  else
    actions.log.push_back(extension + " has interface version " + std::to_string(version_) +
                          ", this Velmora knows version " + std::to_string(kKnownExtensionVersion) +
                          "; windows cannot be followed");
  if (!told_) {
    told_ = true;
    actions.tellUser = problem == State::failing
                           ? failingMessage()
                           : userMessage(problem == State::unknownVersion ? std::optional(version_) : std::nullopt);
  }
  return actions;
}

std::string ExtensionLink::describe() const {
  const std::string prefix = "GNOME Shell (Wayland), ";
  switch (state_) {
    case State::noShell:
      return prefix + "waiting for GNOME Shell on the session bus";
    case State::checking:
    case State::grace:
      return prefix + "looking for the extension " + kExtensionUuid;
    case State::connected:
      return prefix + "extension " + kExtensionUuid + " connected";
    case State::missing:
      return prefix + "extension " + kExtensionUuid + " not running: enable it and log in again";
    case State::unknownVersion:
      return prefix + "extension " + kExtensionUuid + " version " + std::to_string(version_) +
             " not supported: install the one that came with Velmora";
    case State::failing:
      return prefix + "extension " + kExtensionUuid +
             " cannot list windows on this GNOME Shell: install the one that came with Velmora";
    case State::refused:
      return prefix + "extension " + kExtensionUuid + " refuses the window list: log out and in again";
    case State::nameTaken:
      return prefix + "the name " + kWindowsReaderName + " is held by another program (is Velmora running twice?)";
  }
  return prefix;
}

std::string ExtensionLink::userMessage(std::optional<std::uint32_t> unknownVersion) {
  std::string text;
  if (unknownVersion)
    text = "The GNOME Shell extension of Velmora that is running (interface version " +
           std::to_string(*unknownVersion) +
           ") does not match this Velmora. Install the extension that came with this Velmora";
  else
    text = "Velmora needs its GNOME Shell extension to see where windows are. Install it";
  text += std::string(
              " (it comes with Velmora's package), then enable it in a terminal:\n\n"
              "    gnome-extensions enable ") +
          kExtensionUuid +
          "\n\n"
          "Then log out and log in again: GNOME on Wayland only finds new extensions at login.\n\n"
          "Until then Velmora keeps running, but cannot tell which display shows your player.";
  return text;
}

std::string ExtensionLink::failingMessage() {
  return "Velmora's GNOME Shell extension is running but cannot list your windows on this GNOME Shell. Install "
         "the extension that came with this Velmora, then log out and log in again.\n\n"
         "Until then Velmora keeps running, but cannot tell which display shows your player.";
}

std::string ExtensionLink::refusalMessage(State problem) {
  std::string text =
      problem == State::nameTaken
          ? std::string("Another program holds Velmora's name on the session bus (") + kWindowsReaderName +
                "), so GNOME Shell will not tell this Velmora where windows are. Perhaps Velmora is running "
                "twice: quit the other one, then start Velmora again."
          : std::string(
                "Velmora's GNOME Shell extension refuses to tell Velmora where windows are. Log out and "
                "log in again, so that the extension and Velmora start afresh.");
  return text + "\n\nUntil then Velmora keeps running, but cannot tell which display shows your player.";
}

}  // namespace velmora::linuxos::gnome
