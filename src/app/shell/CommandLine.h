#pragma once

// velmora's command line, read before the window system is touched, so that
// --help, --version and a mistyped option work without a display.

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

namespace velmora::app {

struct CommandLine {
  enum class Action { run, showHelp, showVersion, usageError };
  Action action = Action::run;
  // Route without a status item, for desktops without a tray host.
  bool noTray = false;
  // For usageError: what was wrong, as one sentence.
  QString error;
};

// The exit status for a command line that cannot be understood.
inline constexpr int kUsageExitStatus = 2;

// arguments as the program received them, its own name first. Never exits.
CommandLine parseCommandLine(const QStringList& arguments);

// The text --help prints, ending in a newline.
QString helpText();

// "velmora VERSION (build BUILD)", then the session lines, each ending in a
// newline.
QString versionText(const QString& version, const QString& build, const std::vector<std::string>& sessionLines);

// Two lines for standard error: the error, and where to read about the options.
QString usageErrorText(const QString& error);

}  // namespace velmora::app
