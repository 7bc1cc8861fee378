#pragma once

// The application delegate: owns the coordinator, the status item and the
// shell services, runs the two launch phases in their fixed order and turns
// every status report into a redraw of the status item.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/services/ShellServices.h"
#include "app/shell/MenuMirror.h"
#include "app/shell/StatusMenuModel.h"
#include "routing/RoutingStatus.h"

class QMenu;

namespace velmora::app {

class TrayMenu;

class AppMain : public QObject {
  Q_OBJECT

 public:
  using StatusCallback = std::function<void(RoutingStatus, const std::string&)>;

  // What the shell needs of the routing coordinator: installing its status
  // handler and starting it. keepAlive owns the coordinator itself.
  struct Routing {
    std::function<void(StatusCallback)> setOnStatusChanged;
    std::function<void()> startRouting;
    std::shared_ptr<void> keepAlive;
  };

  struct Dependencies {
    // Called once, by the initialiser.
    std::function<Routing()> makeCoordinator;
    std::unique_ptr<LaunchAtLogin> launchAtLogin;
    std::unique_ptr<CrashReporting> crashReporting;
    // Called at the first read of the updater, which the first menu build makes.
    std::function<std::unique_ptr<Updater>()> makeUpdater;
    // The diagnostics dialog's text, built fresh at each opening.
    std::function<std::string()> diagnosticsText;
    // Whether a tray host is present; QSystemTrayIcon's answer by default.
    std::function<bool()> trayAvailable;
    // False routes without a status item (velmora --no-tray).
    bool showStatusItem = true;
    // Ends the event loop; QCoreApplication::quit by default.
    std::function<void()> quit;
    // Called once, with the status item, when the menu should also be
    // offered elsewhere (the GNOME Shell top bar); may return null.
    std::function<std::unique_ptr<MenuMirror>(MenuMirror::Handlers)> makeMenuMirror;
  };

  explicit AppMain(Dependencies deps, QObject* parent = nullptr);
  ~AppMain() override;

  // Launch phase 1: crash reporting.
  void applicationWillFinishLaunching();
  // Launch phase 2: status item, its first drawing, the login default, the
  // status handler, then the coordinator.
  void applicationDidFinishLaunching();

  // Redraws the status item and brings the menu up to date.
  void refreshStatusItem();

  // Runs the menu item with this id, from the tray or from the mirror.
  void activate(const std::string& id);

  // Menu actions.
  void showAbout();
  void showDisplayMap();
  void toggleLaunchAtLogin();
  void toggleCrashReporting();
  void checkForUpdates();

  RoutingStatus lastStatus() const { return lastStatus_; }
  const std::string& lastMessage() const { return lastMessage_; }
  // What the menu shows now; none before the first drawing.
  const std::optional<StatusMenuModel>& shownMenu() const { return shownMenu_; }
  const std::string& accessibleDescription() const { return accessibleDescription_; }
  QSystemTrayIcon* statusItem() const { return statusItem_; }
  QMenu* statusMenu() const;
  TrayMenu* trayMenu() const { return trayMenu_.get(); }
  // Created at the first read.
  Updater& updater();

 private:
  void statusChanged(RoutingStatus status, const std::string& message);
  void rebuildMenu();

  Routing coordinator_;
  RoutingStatus lastStatus_ = RoutingStatus::idle;
  std::string lastMessage_ = "Starting\u2026";
  Dependencies deps_;
  std::unique_ptr<Updater> updater_;

  QPointer<QSystemTrayIcon> statusItem_;
  QString statusIcon_;
  std::unique_ptr<TrayMenu> trayMenu_;
  std::unique_ptr<MenuMirror> mirror_;
  std::optional<StatusMenuModel> shownMenu_;
  std::string accessibleDescription_;
};

}  // namespace velmora::app
