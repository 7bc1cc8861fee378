#include "app/shell/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace velmora::app {
namespace {

const QCommandLineOption kHelp({QStringLiteral("h"), QStringLiteral("help")},
                               QStringLiteral("Show this help and exit."));
const QCommandLineOption kVersion({QStringLiteral("v"), QStringLiteral("version")},
                                  QStringLiteral("Show the version, the build number and the desktop session that "
                                                 "would be used, and exit."));
const QCommandLineOption kNoTray(QStringLiteral("no-tray"),
                                 QStringLiteral("Route without a status item, for desktops without a tray."));

// A session manager restarts Qt programs with "-session ID"; QApplication
// reads it, so it must not be refused here.
QCommandLineOption sessionManagerOption() {
  QCommandLineOption option(QStringLiteral("session"), QString(), QStringLiteral("id"));
  option.setFlags(QCommandLineOption::HiddenFromHelp);
  return option;
}

void describeOptions(QCommandLineParser& parser) {
  parser.setApplicationDescription(
      QStringLiteral("Routes audio to the speakers of whichever display has the active video."));
  // "-version" reads as "--version", as Qt's own options do; never as -v -e -r...
  parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser.addOption(kHelp);
  parser.addOption(kVersion);
  parser.addOption(kNoTray);
  parser.addOption(sessionManagerOption());
}

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments) {
  QCommandLineParser parser;
  describeOptions(parser);
  CommandLine result;
  // An empty list has no program name for the parser to skip.
  if (!parser.parse(arguments.isEmpty() ? QStringList{QStringLiteral("velmora")} : arguments)) {
    result.action = CommandLine::Action::usageError;
    result.error = parser.errorText();
    return result;
  }
  if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty()) {
    result.action = CommandLine::Action::usageError;
    result.error = QStringLiteral("Unexpected argument '%1'.").arg(extra.first());
    return result;
  }
  if (parser.isSet(kHelp))
    result.action = CommandLine::Action::showHelp;
  else if (parser.isSet(kVersion))
    result.action = CommandLine::Action::showVersion;
  result.noTray = parser.isSet(kNoTray);
  return result;
}

QString helpText() {
  QCommandLineParser parser;
  describeOptions(parser);
  QString text = parser.helpText();
  // Qt names the program by argv[0], a full path when started from a menu.
  const qsizetype endOfUsage = text.indexOf(QLatin1Char('\n'));
  text.replace(0, endOfUsage, QStringLiteral("Usage: velmora [options]"));
  text += QStringLiteral(
      "\nEnvironment:\n"
      "  VELMORA_SESSION     x11, sway, hyprland, gnome or kde: the desktop session to\n"
      "                      use instead of the one the environment names.\n"
      "  VELMORA_LOG_STDERR  Log to standard error instead of the journal.\n"
      "  VELMORA_LOG_DEBUG   Log debug lines too.\n"
      "\nThe log: journalctl -t velmora. More in velmora(1).\n");
  return text;
}

QString versionText(const QString& version, const QString& build, const std::vector<std::string>& sessionLines) {
  QString text = QStringLiteral("velmora %1 (build %2)\n").arg(version, build);
  for (const std::string& line : sessionLines)
    text += QString::fromStdString(line) + QLatin1Char('\n');
  return text;
}

QString usageErrorText(const QString& error) {
  return QStringLiteral("velmora: %1\nTry 'velmora --help' for more information.\n").arg(error);
}

}  // namespace velmora::app
