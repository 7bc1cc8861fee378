// Velmora's entry: the Qt application, the Linux back ends on its main
// thread's queue, one AppMain, and the event loop until Quit.
#include <QApplication>
#include <QMessageBox>
#include <QStringList>
#include <cstdio>
#include <memory>

#include "app/services/CrashHandler.h"
#include "app/services/ShellServices.h"
#include "app/shell/AppMain.h"
#include "app/shell/CommandLine.h"
#include "app/shell/DiagnosticsText.h"
#include "app/shell/MenuExport.h"
#include "app/shell/QtMainQueue.h"
#include "app/shell/ShellConfig.h"
#include "app/shell/TerminationSignals.h"
#include "audio/AudioHardware.h"
#include "platform/Log.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/session/Session.h"
#include "routing/RoutingCoordinator.h"

namespace {

void print(std::FILE* stream, const QString& text) {
  const QByteArray bytes = text.toLocal8Bit();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
}

}  // namespace

int main(int argc, char** argv) {
  // Read before QApplication, which needs a display.
  QStringList arguments;
  for (int i = 0; i < argc; ++i)
    arguments.append(QString::fromLocal8Bit(argv[i]));
  const velmora::app::CommandLine commandLine = velmora::app::parseCommandLine(arguments);
  switch (commandLine.action) {
    case velmora::app::CommandLine::Action::showHelp:
      print(stdout, velmora::app::helpText());
      return 0;
    case velmora::app::CommandLine::Action::showVersion:
      print(stdout, velmora::app::versionText(
                        QString::fromUtf8(velmora::app::config::kVersion),
                        QString::fromUtf8(velmora::app::config::kBuildNumber),
                        velmora::linuxos::chooseSession(velmora::linuxos::processEnvironment()).logLines));
      return 0;
    case velmora::app::CommandLine::Action::usageError:
      print(stderr, velmora::app::usageErrorText(commandLine.error));
      return velmora::app::kUsageExitStatus;
    case velmora::app::CommandLine::Action::run:
      break;
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Velmora"));
  QApplication::setOrganizationDomain(QStringLiteral("quennet.co"));
  QApplication::setDesktopFileName(QStringLiteral("co.quennet.velmora"));
  // A tray application has no window whose closing should end it.
  QApplication::setQuitOnLastWindowClosed(false);
  velmora::app::quitOnTerminationSignals(application);

  velmora::setLogSink(velmora::linuxos::makeSystemLogSink());
  // Before the back ends start their threads, so each gets a signal stack.
  velmora::app::prepareThreadsForCrashHandling();
  auto mainQueue = std::make_shared<velmora::app::QtMainQueue>();
  velmora::linuxos::LinuxPlatformOptions options;
  // Session back ends tell the user what to do when they cannot follow
  // windows (a missing Shell extension, say); never blocks the caller.
  options.tellUser = [weakQueue = std::weak_ptr<velmora::app::QtMainQueue>(mainQueue)](const std::string& text) {
    auto queue = weakQueue.lock();
    if (!queue) return;
    queue->async([text] {
      auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Velmora"), QString::fromStdString(text));
      box->setAttribute(Qt::WA_DeleteOnClose);
      box->open();
    });
  };
  const velmora::linuxos::LinuxDesktop desktop = velmora::linuxos::makeLinuxDesktop(mainQueue, std::move(options));
  const velmora::Platform& platform = desktop.platform;

  // What the coordinator last told of the application it follows; main
  // thread only, for the diagnostics dialog.
  auto followed = std::make_shared<std::optional<velmora::FollowedApplication>>();

  velmora::app::AppMain::Dependencies deps;
  deps.makeCoordinator = [platform, followed] {
    auto coordinator = velmora::RoutingCoordinator::create(platform);
    coordinator->onFollowedChanged = [followed](const std::optional<velmora::FollowedApplication>& app) {
      *followed = app;
    };
    std::weak_ptr<velmora::RoutingCoordinator> weak = coordinator;
    velmora::app::AppMain::Routing routing;
    routing.setOnStatusChanged = [weak](velmora::RoutingCoordinator::StatusCallback callback) {
      if (auto c = weak.lock()) c->onStatusChanged = std::move(callback);
    };
    routing.startRouting = [weak] {
      if (auto c = weak.lock()) c->startRouting();
    };
    routing.keepAlive = coordinator;
    return routing;
  };
  deps.showStatusItem = !commandLine.noTray;
  // GNOME Shell's top bar shows the menu through Velmora's extension where the
  // session has no tray host.
  deps.makeMenuMirror = [](velmora::app::MenuMirror::Handlers handlers) -> std::unique_ptr<velmora::app::MenuMirror> {
    return std::make_unique<velmora::app::MenuExport>(std::move(handlers));
  };
  deps.launchAtLogin = velmora::app::makeLaunchAtLogin();
  deps.crashReporting = velmora::app::makeCrashReporting();
  deps.makeUpdater = [] { return velmora::app::makeUpdater(); };
  deps.diagnosticsText = [platform, sessionLine = desktop.sessionLine, followed]() -> std::string {
    if (!platform.screens) return {};
    auto snapshot = velmora::app::readDiagnostics(velmora::AudioHardware(platform.audio), *platform.screens, *followed);
    if (sessionLine) snapshot.session = sessionLine();
    return velmora::app::diagnosticsText(snapshot);
  };

  auto appMain = std::make_unique<velmora::app::AppMain>(std::move(deps));
  appMain->applicationWillFinishLaunching();
  appMain->applicationDidFinishLaunching();
  const int status = application.exec();
  appMain.reset();
  return status;
}
