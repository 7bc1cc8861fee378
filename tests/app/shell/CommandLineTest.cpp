#include "app/shell/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "QtTestApp.h"

namespace velmora::app {
namespace {

using Action = CommandLine::Action;

TEST(CommandLineTest, ReadsEachOptionAndRefusesWhatItDoesNotKnow) {
  test::qtApp();
  struct Case {
    QStringList arguments;
    Action action;
    bool noTray;
    QString errorPart;
  };
  const std::vector<Case> cases = {
      {{"velmora"}, Action::run, false, {}},
      {{}, Action::run, false, {}},
      {{"velmora", "--no-tray"}, Action::run, true, {}},
      {{"velmora", "-no-tray"}, Action::run, true, {}},
      {{"velmora", "--help"}, Action::showHelp, false, {}},
      {{"velmora", "-h"}, Action::showHelp, false, {}},
      {{"velmora", "--version"}, Action::showVersion, false, {}},
      {{"velmora", "-v"}, Action::showVersion, false, {}},
      {{"velmora", "--version", "--help"}, Action::showHelp, false, {}},
      {{"velmora", "--no-tray", "--version"}, Action::showVersion, true, {}},
      // Restarted by a session manager.
      {{"velmora", "-session", "10d2f3"}, Action::run, false, {}},
      {{"velmora", "--frobnicate"}, Action::usageError, false, "'frobnicate'"},
      {{"velmora", "-x"}, Action::usageError, false, "'x'"},
      // Not bundled short options: one unknown word.
      {{"velmora", "-hv"}, Action::usageError, false, "'hv'"},
      {{"velmora", "--version", "--frobnicate"}, Action::usageError, false, "'frobnicate'"},
      {{"velmora", "--no-tray=yes"}, Action::usageError, false, "no-tray"},
      {{"velmora", "--session"}, Action::usageError, false, "session"},
      {{"velmora", "movie.mkv"}, Action::usageError, false, "Unexpected argument 'movie.mkv'"},
      {{"velmora", "--", "--help"}, Action::usageError, false, "'--help'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.join(' ').toStdString());
    const CommandLine line = parseCommandLine(c.arguments);
    EXPECT_EQ(line.action, c.action);
    if (c.action == Action::usageError) {
      EXPECT_TRUE(line.error.contains(c.errorPart)) << line.error.toStdString();
    } else {
      EXPECT_EQ(line.noTray, c.noTray);
      EXPECT_TRUE(line.error.isEmpty());
    }
  }
}

TEST(CommandLineTest, TextsNameTheProgramAndEndInANewline) {
  test::qtApp();
  const QString help = helpText();
  // Not the path of whatever program is running.
  EXPECT_TRUE(help.startsWith("Usage: velmora [options]\n")) << help.toStdString();
  EXPECT_TRUE(help.contains("VELMORA_SESSION") && help.contains("journalctl -t velmora"));
  EXPECT_FALSE(help.contains(QLatin1String("--session"))) << "the session manager's option is not for users";
  EXPECT_TRUE(help.endsWith('\n'));

  EXPECT_EQ(versionText("1.2.0", "57", {"session: Wayland desktop X is not supported", "session: using X11"}),
            "velmora 1.2.0 (build 57)\nsession: Wayland desktop X is not supported\nsession: using X11\n");

  EXPECT_EQ(usageErrorText("Unknown option 'x'."),
            "velmora: Unknown option 'x'.\nTry 'velmora --help' for more information.\n");
}

}  // namespace
}  // namespace velmora::app
