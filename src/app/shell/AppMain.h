#pragma once

// The application delegate: owns the coordinator, the status item and the
// shell services, runs the two launch phases in their fixed order and turns
// every status report into a redraw of the status item.

#include <QObject>
#include <QPointer>
#include <QSystemTrayIcon>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/services/ShellServices.h"
#include "app/shell/StatusMenuModel.h"
#include "routing/RoutingStatus.h"

class QAction;
class QEvent;
class QMenu;

namespace velmora::app {

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

  // Menu actions.
  void showAbout();
  void showDisplayMap();
  void toggleLaunchAtLogin();
  void toggleCrashReporting();
  void checkForUpdates();

  // The menu is about to open, or Alt changed while it is open.
  void setAltHeld(bool held);

  bool eventFilter(QObject* watched, QEvent* event) override;

  RoutingStatus lastStatus() const { return lastStatus_; }
  const std::string& lastMessage() const { return lastMessage_; }
  // What the menu shows now; none before the first drawing.
  const std::optional<StatusMenuModel>& shownMenu() const { return shownMenu_; }
  const std::string& accessibleDescription() const { return accessibleDescription_; }
  QSystemTrayIcon* statusItem() const { return statusItem_; }
  QMenu* statusMenu() const { return menu_.get(); }
  // Created at the first read.
  Updater& updater();

 private:
  void statusChanged(RoutingStatus status, const std::string& message);
  void rebuildMenu();
  void createMenu();

  Routing coordinator_;
  RoutingStatus lastStatus_ = RoutingStatus::idle;
  std::string lastMessage_ = "Starting\u2026";
  Dependencies deps_;
  std::unique_ptr<Updater> updater_;

  QPointer<QSystemTrayIcon> statusItem_;
  std::unique_ptr<QMenu> menu_;
  std::array<QAction*, kStatusMenuItemCount> actions_{};
  std::optional<StatusMenuModel> shownMenu_;
  std::string accessibleDescription_;
  bool altHeld_ = false;
};

}  // namespace velmora::app
