#include "platform/linux/session/Session.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "platform/linux/common/UnixSocket.h"
#include "platform/linux/hyprland/HyprlandIpc.h"

namespace velmora::linuxos {
namespace {

constexpr std::array<std::pair<SessionKind, std::string_view>, 5> kNames{{
    {SessionKind::x11, "x11"},
    {SessionKind::sway, "sway"},
    {SessionKind::hyprland, "hyprland"},
    {SessionKind::gnome, "gnome"},
    {SessionKind::kde, "kde"},
}};

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

bool isSet(const Environment& env, std::string_view name) {
  auto value = env(name);
  return value && !value->empty();
}

// XDG_CURRENT_DESKTOP is a colon-separated list such as "ubuntu:GNOME"; the
// first entry we support names the session.
std::optional<SessionKind> namedDesktop(const std::string& desktops) {
  std::size_t start = 0;
  while (start <= desktops.size()) {
    std::size_t end = desktops.find(':', start);
    if (end == std::string::npos) end = desktops.size();
    const std::string entry = lower(std::string_view(desktops).substr(start, end - start));
    if (entry != "x11")
      if (auto kind = parseSessionName(entry)) return kind;
    start = end + 1;
  }
  return std::nullopt;
}

std::optional<SessionKind> answeringCompositor(const Environment& env, const SocketProbe& answers,
                                               std::vector<std::string>& log) {
  if (auto sway = env("SWAYSOCK"); sway && !sway->empty()) {
    if (answers(*sway)) return SessionKind::sway;
    log.push_back("session: SWAYSOCK=" + *sway + " does not answer (left from an earlier sway session?); ignoring it");
  }
  const auto signature = env("HYPRLAND_INSTANCE_SIGNATURE");
  if (!signature || signature->empty()) return std::nullopt;
  const auto location = hyprland::locateSockets(signature, env("XDG_RUNTIME_DIR"), [](const std::string& dir) {
    std::error_code ec;
    return std::filesystem::is_directory(dir, ec);
  });
  if (location.paths && answers(location.paths->request)) return SessionKind::hyprland;
  log.push_back("session: HYPRLAND_INSTANCE_SIGNATURE=" + *signature + " names no Hyprland that answers; ignoring it");
  return std::nullopt;
}

}  // namespace

Environment processEnvironment() {
  return [](std::string_view name) -> std::optional<std::string> {
    const char* value = std::getenv(std::string(name).c_str());
    if (!value) return std::nullopt;
    return std::string(value);
  };
}

std::string_view sessionName(SessionKind kind) {
  for (const auto& [k, name] : kNames)
    if (k == kind) return name;
  return "x11";
}

std::optional<SessionKind> parseSessionName(std::string_view name) {
  const std::string wanted = lower(name);
  for (const auto& [kind, n] : kNames)
    if (n == wanted) return kind;
  return std::nullopt;
}

bool socketAnswers(const std::string& path) {
  return static_cast<bool>(connectUnixSocket(path, std::chrono::steady_clock::now() + std::chrono::milliseconds(500)));
}

SessionChoice chooseSession(const Environment& env, const SocketProbe& answers) {
  SessionChoice choice;
  if (auto forced = env("VELMORA_SESSION"); forced && !forced->empty()) {
    if (auto kind = parseSessionName(*forced)) {
      choice.kind = *kind;
      choice.logLines.push_back("session: " + std::string(sessionName(*kind)) + " (forced by VELMORA_SESSION)");
      return choice;
    }
    choice.logLines.push_back("VELMORA_SESSION=" + *forced +
                              " is not one of x11, sway, hyprland, gnome, kde; choosing from the environment");
  }

  const bool wayland = isSet(env, "WAYLAND_DISPLAY") || lower(env("XDG_SESSION_TYPE").value_or("")) == "wayland";
  if (!wayland) {
    choice.kind = SessionKind::x11;
    choice.logLines.push_back("session: x11");
    return choice;
  }

  const std::string desktops = env("XDG_CURRENT_DESKTOP").value_or("");
  std::optional<SessionKind> kind = namedDesktop(desktops);
  if (!kind) kind = answeringCompositor(env, answers, choice.logLines);

  if (kind) {
    choice.kind = *kind;
    choice.logLines.push_back("session: " + std::string(sessionName(*kind)) + " (Wayland)");
    return choice;
  }

  choice.kind = SessionKind::x11;
  const std::string which = desktops.empty() ? std::string("this Wayland compositor") : "Wayland desktop " + desktops;
  choice.logLines.push_back("session: " + which + " is not supported");
  if (isSet(env, "DISPLAY"))
    choice.logLines.push_back("session: using X11 through XWayland; native Wayland windows cannot be followed there");
  else
    choice.logLines.push_back("session: no X server either (DISPLAY is not set); windows cannot be followed");
  return choice;
}

SessionDesktop makeSessionDesktop(SessionKind kind, const SessionContext& context) {
  switch (kind) {
    case SessionKind::sway:
      return makeSwaySessionDesktop(context);
    case SessionKind::hyprland:
      return makeHyprlandSessionDesktop(context);
    case SessionKind::gnome:
      return makeGnomeSessionDesktop(context);
    case SessionKind::kde:
      return makeKdeSessionDesktop(context);
    case SessionKind::x11:
      break;
  }
  return makeX11SessionDesktop(context);
}

}  // namespace velmora::linuxos
