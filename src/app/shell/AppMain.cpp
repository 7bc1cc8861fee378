#include "app/shell/AppMain.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QFile>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QUrl>

#include "app/shell/DiagnosticsText.h"
#include "app/shell/ShellConfig.h"
#include "app/shell/TrayMenu.h"
#include "platform/Log.h"

// The resources live in a static library, so they must be registered by
// hand, and from the global namespace.
static void initShellResources() {
  Q_INIT_RESOURCE(shell);
}

namespace velmora::app {

namespace {

const Logger& generalLog() {
  static const Logger logger(kVelmoraSubsystem, "General");
  return logger;
}

QString toQString(const std::string& text) {
  return QString::fromStdString(text);
}

QString iconResource(const std::string& name) {
  return QStringLiteral(":/co.quennet.velmora/%1.svg").arg(toQString(name));
}

// Device and screen names come from outside; never let them be read as HTML.
// Diagnostics lines are records, one per line: wrapping would tear them.
void showPlainInformativeText(QMessageBox& box, const std::string& text, bool wrap) {
  box.setInformativeText(toQString(text));
  if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(wrap);
  }
}

}  // namespace

AppMain::AppMain(Dependencies deps, QObject* parent) : QObject(parent), deps_(std::move(deps)) {
  initShellResources();
  if (deps_.makeCoordinator) coordinator_ = deps_.makeCoordinator();
  if (!deps_.trayAvailable) deps_.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
}

AppMain::~AppMain() {
  // The tray icon keeps only a guarded pointer to the menu.
  if (statusItem_) statusItem_->setContextMenu(nullptr);
}

void AppMain::applicationWillFinishLaunching() {
  if (deps_.crashReporting) deps_.crashReporting->startCrashReporting();
}

void AppMain::applicationDidFinishLaunching() {
  TrayMenu::Handlers handlers;
  handlers.activate = [this](const std::string& id) { activate(id); };
  // An opening menu shows the toggles as they are now, also when they were
  // changed elsewhere.
  handlers.aboutToShow = [this] { rebuildMenu(); };
  trayMenu_ = std::make_unique<TrayMenu>(std::move(handlers));

  if (!deps_.showStatusItem) {
    generalLog().info("Velmora: routing without a status item, as asked");
  } else {
    statusItem_ = new QSystemTrayIcon(this);
    // Tray hosts send a plain click as activation; with no window to show, the
    // menu is the answer to either button.
    connect(statusItem_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
      QMenu* menu = statusMenu();
      if (reason != QSystemTrayIcon::Trigger || menu->isVisible()) return;
      // Below the icon where the host tells where it is, so the icon stays in view.
      const QRect icon = statusItem_ ? statusItem_->geometry() : QRect();
      menu->popup(icon.isValid() ? icon.bottomLeft() + QPoint(0, 1) : QCursor::pos());
    });
    if (!deps_.trayAvailable()) {
      generalLog().info("Velmora: no system tray is available; the status item cannot be shown");
    }
    if (deps_.makeMenuMirror) {
      MenuMirror::Handlers mirrorHandlers;
      // Later, from the event loop: an item may open a modal dialog, which
      // must not run inside the mirror's own call.
      mirrorHandlers.activate = [self = QPointer<AppMain>(this)](const std::string& id) {
        QMetaObject::invokeMethod(
            self,
            [self, id] {
              if (self) self->activate(id);
            },
            Qt::QueuedConnection);
      };
      mirrorHandlers.refresh = [this] { rebuildMenu(); };
      mirror_ = deps_.makeMenuMirror(std::move(mirrorHandlers));
    }
  }

  refreshStatusItem();

  // Without a status item there is no menu to turn launch at login off again,
  // and the entry would start velmora with one: the default waits for a start
  // that shows the menu.
  if (deps_.launchAtLogin && deps_.showStatusItem) deps_.launchAtLogin->applyFreshInstallLoginDefault();

  if (coordinator_.setOnStatusChanged) {
    coordinator_.setOnStatusChanged([self = QPointer<AppMain>(this)](RoutingStatus status, const std::string& message) {
      if (self) self->statusChanged(status, message);
    });
  }
  if (coordinator_.startRouting) coordinator_.startRouting();
}

void AppMain::statusChanged(RoutingStatus status, const std::string& message) {
  // The coordinator repeats its status twice a second. A repeat changes
  // nothing on screen, and the toggles it would re-read (a file and the
  // settings) are read afresh whenever the menu opens.
  if (shownMenu_ && status == lastStatus_ && message == lastMessage_) return;
  lastStatus_ = status;
  lastMessage_ = message;
  refreshStatusItem();
}

void AppMain::refreshStatusItem() {
  rebuildMenu();
  const std::string& iconName = shownMenu_->iconName;
  const QString icon = iconResource(iconName);
  const bool haveIcon = QFile::exists(icon);
  if (haveIcon) accessibleDescription_ = shownMenu_->accessibleDescription;

  if (statusItem_) {
    // Each change of a tray icon's properties is a round trip to the tray
    // host, so only real changes are sent.
    const QString shownIcon = haveIcon ? icon : QString();
    if (statusIcon_ != shownIcon || statusItem_->icon().isNull() == haveIcon) {
      statusIcon_ = shownIcon;
      statusItem_->setIcon(haveIcon ? QIcon(icon) : QIcon());
    }
    if (statusItem_->toolTip() != QLatin1String("Velmora")) statusItem_->setToolTip(QStringLiteral("Velmora"));
    if (!statusItem_->isVisible()) statusItem_->show();
    if (statusItem_->contextMenu() != statusMenu()) statusItem_->setContextMenu(statusMenu());
  }
}

void AppMain::rebuildMenu() {
  StatusMenuInputs inputs;
  inputs.status = lastStatus_;
  inputs.lastMessage = lastMessage_;
  inputs.canCheckForUpdates = updater().canCheckForUpdates();
  inputs.launchAtLoginEnabled = deps_.launchAtLogin && deps_.launchAtLogin->isEnabled();
  inputs.crashReportingEnabled = deps_.crashReporting && deps_.crashReporting->isCrashReportingEnabled();

  StatusMenuModel next = statusMenuModel(inputs);
  if (shownMenu_ && *shownMenu_ == next) return;
  shownMenu_ = std::move(next);
  if (trayMenu_) trayMenu_->show(shownMenu_->items, shownMenu_->accessibleDescription);
  if (mirror_) mirror_->publish(*shownMenu_);
}

QMenu* AppMain::statusMenu() const {
  return trayMenu_ ? trayMenu_->menu() : nullptr;
}

void AppMain::activate(const std::string& id) {
  if (id == menu_id::kAbout) {
    showAbout();
  } else if (id == menu_id::kDiagnostics) {
    showDisplayMap();
  } else if (id == menu_id::kCheckForUpdates) {
    checkForUpdates();
  } else if (id == menu_id::kLaunchAtLogin) {
    toggleLaunchAtLogin();
  } else if (id == menu_id::kSendCrashReports) {
    toggleCrashReporting();
  } else if (id == menu_id::kQuit) {
    // Once the item's own signal has returned.
    QMetaObject::invokeMethod(
        this, [this] { deps_.quit ? deps_.quit() : QCoreApplication::quit(); }, Qt::QueuedConnection);
  }
}

Updater& AppMain::updater() {
  if (!updater_) {
    updater_ = deps_.makeUpdater ? deps_.makeUpdater() : makeUpdater();
    updater_->setAvailabilityChangedHandler([self = QPointer<AppMain>(this)] {
      if (self) self->rebuildMenu();
    });
  }
  return *updater_;
}

void AppMain::showAbout() {
  QMessageBox box;
  box.setWindowTitle(QStringLiteral("Velmora"));
  box.setIcon(QMessageBox::Information);
  box.setText(QStringLiteral("Velmora"));
  showPlainInformativeText(box, aboutText(config::kVersion, config::kSupportContactAddress, config::kCopyright),
                           /*wrap=*/true);
  QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
  QPushButton* support = box.addButton(QStringLiteral("Visit Support\u2026"), QMessageBox::ActionRole);
  box.setDefaultButton(ok);
  box.exec();
  if (box.clickedButton() != support) return;
  const QUrl url(QString::fromUtf8(config::kSupportPageURL), QUrl::StrictMode);
  if (url.isValid() && !url.isRelative()) QDesktopServices::openUrl(url);
}

void AppMain::showDisplayMap() {
  QMessageBox box;
  box.setWindowTitle(QStringLiteral("Velmora"));
  box.setText(QString::fromUtf8(kDiagnosticsTitle));
  showPlainInformativeText(box, deps_.diagnosticsText ? deps_.diagnosticsText() : std::string(), /*wrap=*/false);
  box.exec();
}

void AppMain::toggleLaunchAtLogin() {
  if (deps_.launchAtLogin) deps_.launchAtLogin->toggleLaunchAtLogin(nullptr);
  refreshStatusItem();
}

void AppMain::toggleCrashReporting() {
  if (deps_.crashReporting) deps_.crashReporting->toggleCrashReporting();
  refreshStatusItem();
}

void AppMain::checkForUpdates() {
  updater().checkForUpdates(nullptr);
}

}  // namespace velmora::app
