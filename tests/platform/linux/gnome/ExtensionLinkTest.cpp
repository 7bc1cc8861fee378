#include "platform/linux/gnome/ExtensionLink.h"

#include <gtest/gtest.h>

namespace velmora::linuxos::gnome {
namespace {

using State = ExtensionLink::State;

// One event and what must follow from it.
struct Step {
  // appeared, vanished, changed, version:N, noversion, windowsRead, windowsFailed, refused, nameTaken, grace
  std::string event;
  State state;
  bool probe = false;
  bool readWindows = false;
  bool grace = false;
  bool told = false;
  int logLines = 0;
};

ExtensionLink::Actions run(ExtensionLink& link, const std::string& event) {
  if (event == "appeared") return link.shellAppeared();
  if (event == "vanished") return link.shellVanished();
  if (event == "changed") return link.changedSignal();
  if (event == "noversion") return link.versionRead(std::nullopt);
  if (event.rfind("version:", 0) == 0) return link.versionRead(static_cast<std::uint32_t>(std::stoul(event.substr(8))));
  if (event == "windowsRead") return link.windowsRead();
  if (event == "windowsFailed") return link.windowsFailed("org.gnome.Shell.Error");
  if (event == "refused") return link.windowsRefused();
  if (event == "nameTaken") return link.nameRefused();
  if (event == "grace") return link.graceExpired();
  ADD_FAILURE() << "unknown event " << event;
  return {};
}

void play(const std::string& story, const std::vector<Step>& steps) {
  ExtensionLink link;
  for (std::size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    const auto a = run(link, s.event);
    const std::string where = story + ", step " + std::to_string(i) + " (" + s.event + ")";
    EXPECT_EQ(link.state(), s.state) << where;
    EXPECT_EQ(a.probe, s.probe) << where;
    EXPECT_EQ(a.readWindows, s.readWindows) << where;
    EXPECT_EQ(a.armGrace.has_value(), s.grace) << where;
    EXPECT_EQ(a.tellUser.has_value(), s.told) << where;
    EXPECT_EQ(static_cast<int>(a.log.size()), s.logLines) << where;
  }
}

TEST(ExtensionLinkTest, FollowsTheExtensionThroughItsLife) {
  play("connects, reads on change, survives a Shell restart",
       {
           {"appeared", State::checking, true},
           {"version:1", State::connected, false, true, false, false, 1},
           {"changed", State::connected, false, true},
           {"vanished", State::noShell, false, false, false, false, 1},
           {"vanished", State::noShell},
           // The new Shell answers before it has loaded its extensions.
           {"appeared", State::checking, true},
           {"noversion", State::grace, false, false, true},
           // The extension announces itself when enabled: no message.
           {"changed", State::checking, true},
           {"version:1", State::connected, false, true, false, false, 1},
       });
  play("missing at start: told once after the grace, resumes when enabled",
       {
           {"appeared", State::checking, true},
           {"noversion", State::grace, false, false, true},
           {"grace", State::checking, true},
           {"noversion", State::missing, false, false, false, true, 1},
           // Asking again while missing changes nothing and says nothing.
           {"changed", State::checking, true},
           {"noversion", State::missing},
           {"grace", State::missing},
           {"changed", State::checking, true},
           {"version:1", State::connected, false, true, false, false, 1},
           // Disabled later: logged again, but the user was told already.
           {"windowsRead", State::connected},
           {"windowsFailed", State::checking, true},
           {"noversion", State::grace, false, false, true},
           {"grace", State::checking, true},
           {"noversion", State::missing, false, false, false, false, 1},
       });
  play("an unknown version is a problem of its own, with the same message once",
       {
           {"appeared", State::checking, true},
           {"version:7", State::unknownVersion, false, false, false, true, 1},
           {"changed", State::checking, true},
           {"version:7", State::unknownVersion},
           {"changed", State::checking, true},
           {"version:8", State::unknownVersion, false, false, false, false, 1},
           {"changed", State::checking, true},
           {"version:1", State::connected, false, true, false, false, 1},
       });
  play("an extension that answers but cannot list windows is asked again after a back-off, logged once",
       {
           {"appeared", State::checking, true},
           {"version:1", State::connected, false, true, false, false, 1},
           {"windowsFailed", State::failing, false, false, true, true, 1},
           // Its own Changed signals bring no call before the back-off ends.
           {"changed", State::failing},
           {"grace", State::checking, true},
           {"version:1", State::connected, false, true},
           {"windowsFailed", State::failing, false, false, true},
           {"grace", State::checking, true},
           {"version:1", State::connected, false, true},
           // Mended: believed and logged once it lists windows.
           {"windowsRead", State::connected, false, false, false, false, 1},
           {"changed", State::connected, false, true},
       });
  play("a refused list waits for the extension to learn our name, then is told once and not asked again",
       {
           {"appeared", State::checking, true},
           {"version:1", State::connected, false, true, false, false, 1},
           {"refused", State::grace, false, false, true},
           // The extension now knows us.
           {"changed", State::checking, true},
           {"version:1", State::connected, false, true, false, false, 1},
           {"refused", State::refused, false, false, false, true, 1},
           {"grace", State::refused},
           {"refused", State::refused},
       });
  play("a refusal that outlasts the grace", {
                                                {"appeared", State::checking, true},
                                                {"version:1", State::connected, false, true, false, false, 1},
                                                {"refused", State::grace, false, false, true},
                                                {"grace", State::checking, true},
                                                {"version:1", State::connected, false, true, false, false, 1},
                                                {"refused", State::refused, false, false, false, true, 1},
                                            });
  play("a name held by another program: told once, nothing is asked",
       {
           {"nameTaken", State::nameTaken, false, false, false, true, 1},
           {"appeared", State::nameTaken},
           {"changed", State::nameTaken},
           {"version:1", State::nameTaken},
           {"vanished", State::nameTaken},
           {"nameTaken", State::nameTaken},
       });
  play("answers that come after the Shell left are ignored",
       {
           {"appeared", State::checking, true},
           {"vanished", State::noShell, false, false, false, false, 1},
           {"noversion", State::noShell},
           {"version:1", State::noShell},
           {"grace", State::noShell},
           {"windowsFailed", State::noShell},
       });
}

TEST(ExtensionLinkTest, TellsTheUserWhatToDo) {
  const std::string missing = ExtensionLink::userMessage(std::nullopt);
  const std::string version = ExtensionLink::userMessage(9u);
  for (const auto& text : {missing, version}) {
    EXPECT_NE(text.find("gnome-extensions enable velmora@quennet.co"), std::string::npos) << text;
    EXPECT_NE(text.find("log out"), std::string::npos) << text;
  }
  EXPECT_NE(version.find("version 9"), std::string::npos) << version;
  EXPECT_NE(ExtensionLink::refusalMessage(State::nameTaken).find("co.quennet.Velmora.Windows"), std::string::npos);

  ExtensionLink link;
  EXPECT_NE(link.describe().find("waiting for GNOME Shell"), std::string::npos);
  link.shellAppeared();
  link.versionRead(1u);
  EXPECT_NE(link.describe().find("extension velmora@quennet.co connected"), std::string::npos);
  link.windowsRead();
  link.windowsFailed();
  link.versionRead(std::nullopt);
  link.graceExpired();
  link.versionRead(std::nullopt);
  EXPECT_NE(link.describe().find("not running"), std::string::npos) << link.describe();
}

}  // namespace
}  // namespace velmora::linuxos::gnome
