#include "platform/linux/session/Session.h"

#include <gtest/gtest.h>

#include <map>

namespace velmora::linuxos {
namespace {

Environment fakeEnvironment(std::map<std::string, std::string> values) {
  return [values = std::move(values)](std::string_view name) -> std::optional<std::string> {
    auto it = values.find(std::string(name));
    if (it == values.end()) return std::nullopt;
    return it->second;
  };
}

TEST(SessionTest, ChoosesTheFamilyFromTheEnvironment) {
  struct Case {
    std::map<std::string, std::string> env;
    SessionKind kind;
    std::vector<std::string> log;
  };
  const std::vector<Case> cases = {
      {{{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}}, SessionKind::x11, {"session: x11"}},
      {{}, SessionKind::x11, {"session: x11"}},
      // The desktop's name decides: a SWAYSOCK left from a sway session does
      // not make GNOME sway, even while that sway still answers.
      {{{"WAYLAND_DISPLAY", "wayland-1"}, {"SWAYSOCK", "/run/sway.sock"}, {"XDG_CURRENT_DESKTOP", "GNOME"}},
       SessionKind::gnome,
       {"session: gnome (Wayland)"}},
      {{{"WAYLAND_DISPLAY", "wayland-1"}, {"XDG_CURRENT_DESKTOP", "sway"}},
       SessionKind::sway,
       {"session: sway (Wayland)"}},
      // Without one, a compositor's variable counts when its socket answers.
      {{{"WAYLAND_DISPLAY", "wayland-1"}, {"SWAYSOCK", "/run/sway.sock"}},
       SessionKind::sway,
       {"session: sway (Wayland)"}},
      {{{"WAYLAND_DISPLAY", "wayland-1"}, {"SWAYSOCK", "/run/stale.sock"}, {"DISPLAY", ":0"}},
       SessionKind::x11,
       {"session: SWAYSOCK=/run/stale.sock does not answer (left from an earlier sway session?); ignoring it",
        "session: this Wayland compositor is not supported",
        "session: using X11 through XWayland; native Wayland windows cannot be followed there"}},
      {{{"XDG_SESSION_TYPE", "wayland"}, {"HYPRLAND_INSTANCE_SIGNATURE", "abc"}, {"XDG_RUNTIME_DIR", "/run/user/7"}},
       SessionKind::hyprland,
       {"session: hyprland (Wayland)"}},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"}},
       SessionKind::gnome,
       {"session: gnome (Wayland)"}},
      {{{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_CURRENT_DESKTOP", "KDE"}},
       SessionKind::kde,
       {"session: kde (Wayland)"}},
      // "GNOME-Flashback" is not GNOME Shell on Wayland; an empty SWAYSOCK is unset.
      {{{"WAYLAND_DISPLAY", "wayland-0"},
        {"XDG_CURRENT_DESKTOP", "GNOME-Flashback"},
        {"SWAYSOCK", ""},
        {"DISPLAY", ":1"}},
       SessionKind::x11,
       {"session: Wayland desktop GNOME-Flashback is not supported",
        "session: using X11 through XWayland; native Wayland windows cannot be followed there"}},
      {{{"WAYLAND_DISPLAY", "wayland-0"}},
       SessionKind::x11,
       {"session: this Wayland compositor is not supported",
        "session: no X server either (DISPLAY is not set); windows cannot be followed"}},
      {{{"VELMORA_SESSION", "KDE"}, {"SWAYSOCK", "/s"}},
       SessionKind::kde,
       {"session: kde (forced by VELMORA_SESSION)"}},
      {{{"VELMORA_SESSION", "weston"}, {"WAYLAND_DISPLAY", "w"}, {"SWAYSOCK", "/run/sway.sock"}},
       SessionKind::sway,
       {"VELMORA_SESSION=weston is not one of x11, sway, hyprland, gnome, kde; choosing from the environment",
        "session: sway (Wayland)"}},
  };
  // Only these sockets answer.
  const auto answers = [](const std::string& path) {
    return path == "/run/sway.sock" || path == "/run/user/7/hypr/abc/.socket.sock";
  };
  for (const auto& c : cases) {
    const SessionChoice choice = chooseSession(fakeEnvironment(c.env), answers);
    EXPECT_EQ(choice.kind, c.kind) << c.log.back();
    EXPECT_EQ(choice.logLines, c.log);
  }
}

}  // namespace
}  // namespace velmora::linuxos
