#pragma once

// The desktop session decides where windows and displays come from: the X
// server, or the Wayland compositor's own interface. It is chosen once at
// start from the environment.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Screens.h"
#include "platform/Windows.h"
#include "platform/linux/common/ChangeCoalescer.h"
#include "platform/linux/proc/ProcApplications.h"

namespace velmora::linuxos {

enum class SessionKind { x11, sway, hyprland, gnome, kde };

// Reads one environment variable; nullopt when unset.
using Environment = std::function<std::optional<std::string>(std::string_view name)>;
Environment processEnvironment();

// "x11", "sway", "hyprland", "gnome", "kde": the values VELMORA_SESSION takes.
std::string_view sessionName(SessionKind kind);
std::optional<SessionKind> parseSessionName(std::string_view name);

struct SessionChoice {
  SessionKind kind = SessionKind::x11;
  // What to log once at start, in order: the session and why it was chosen,
  // and for an unsupported compositor what that means for the user.
  std::vector<std::string> logLines;
};

// Whether something listens on a unix socket; tests pass their own.
using SocketProbe = std::function<bool(const std::string& path)>;
bool socketAnswers(const std::string& path);

// XDG_CURRENT_DESKTOP names the desktop the user is in and decides. Where it
// names none we support, a compositor's variable (SWAYSOCK,
// HYPRLAND_INSTANCE_SIGNATURE) counts only when its socket answers: sway's
// stock configuration exports SWAYSOCK into the user's systemd environment,
// where it outlives the sway session.
SessionChoice chooseSession(const Environment& env, const SocketProbe& answers = socketAnswers);

// What a session back end needs from the rest of the platform.
struct SessionContext {
  // Display-configuration changes go here; it coalesces them with the sound
  // server's sink changes.
  std::shared_ptr<ChangeCoalescer> changes;
  Environment env;
  // Shows a plain message to the user once per call, on the shell's thread;
  // may be null (no shell).
  std::function<void(const std::string& text)> tellUser;
};

struct SessionDesktop {
  std::shared_ptr<ScreensSource> screens;
  std::shared_ptr<WindowSource> windows;
  // The processes that own a top-level window, for /proc's attribution of
  // sandboxed clients; null when the session does not know them.
  std::function<WindowOwners()> windowOwners;
  // The diagnostics dialog's session line, without the "Session: " prefix.
  std::function<std::string()> describe;
};

SessionDesktop makeSessionDesktop(SessionKind kind, const SessionContext& context);

// One factory per family, each in its own folder.
SessionDesktop makeX11SessionDesktop(const SessionContext& context);
SessionDesktop makeSwaySessionDesktop(const SessionContext& context);
SessionDesktop makeHyprlandSessionDesktop(const SessionContext& context);
SessionDesktop makeGnomeSessionDesktop(const SessionContext& context);
SessionDesktop makeKdeSessionDesktop(const SessionContext& context);

}  // namespace velmora::linuxos
