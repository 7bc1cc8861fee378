#include "app/shell/AppMain.h"

#include <QAction>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QUrl>

#include "app/shell/DiagnosticsText.h"
#include "app/shell/ShellConfig.h"
#include "platform/Log.h"

// The resources live in a static library, so they must be registered by
// hand, and from the global namespace.
static void initShellResources() {
  Q_INIT_RESOURCE(shell);
}

namespace velmora::app {

namespace {

constexpr const char* kMenuBarIcon = ":/co.quennet.velmora/MenuBarIcon.svg";

const Logger& generalLog() {
  static const Logger logger(kVelmoraSubsystem, "General");
  return logger;
}

QString toQString(const std::string& text) {
  return QString::fromStdString(text);
}

// Titles carry names from outside. A literal '&' would become a mnemonic
// marker and vanish, a tab would split off as shortcut text and a line break
// would break the one-line menu item; control characters show as spaces.
QString actionText(const std::string& title) {
  QString text = toQString(title);
  for (QChar& c : text) {
    if (c.category() == QChar::Other_Control) c = QLatin1Char(' ');
  }
  return text.replace(QLatin1Char('&'), QLatin1String("&&"));
}

class QtMenuTarget final : public MenuTarget {
 public:
  explicit QtMenuTarget(const std::array<QAction*, kStatusMenuItemCount>& actions) : actions_(actions) {}
  void setTitle(std::size_t i, const std::string& title) override { actions_[i]->setText(actionText(title)); }
  void setEnabled(std::size_t i, bool enabled) override { actions_[i]->setEnabled(enabled); }
  void setChecked(std::size_t i, bool checked) override { actions_[i]->setChecked(checked); }
  void setVisible(std::size_t i, bool visible) override { actions_[i]->setVisible(visible); }

 private:
  const std::array<QAction*, kStatusMenuItemCount>& actions_;
};

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
  if (!deps_.showStatusItem) {
    generalLog().info("Velmora: routing without a status item, as asked");
  } else {
    statusItem_ = new QSystemTrayIcon(this);
    // Tray hosts send a plain click as activation; with no window to show, the
    // menu is the answer to either button.
    connect(statusItem_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
      if (reason != QSystemTrayIcon::Trigger || !menu_ || menu_->isVisible()) return;
      // Below the icon where the host tells where it is, so the icon stays in view.
      const QRect icon = statusItem_ ? statusItem_->geometry() : QRect();
      menu_->popup(icon.isValid() ? icon.bottomLeft() + QPoint(0, 1) : QCursor::pos());
    });
    if (!deps_.trayAvailable()) {
      generalLog().info("Velmora: no system tray is available; the status item cannot be shown");
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
  const bool haveIcon = QFile::exists(QString::fromLatin1(kMenuBarIcon));
  if (haveIcon) accessibleDescription_ = statusItemAccessibleDescription(lastMessage_);

  if (statusItem_) {
    // Each change of a tray icon's properties is a round trip to the tray
    // host, so only real changes are sent.
    if (statusItem_->icon().isNull() == haveIcon) {
      statusItem_->setIcon(haveIcon ? QIcon(QString::fromLatin1(kMenuBarIcon)) : QIcon());
    }
    if (statusItem_->toolTip() != QLatin1String("Velmora")) statusItem_->setToolTip(QStringLiteral("Velmora"));
    if (!statusItem_->isVisible()) statusItem_->show();
  }

  rebuildMenu();
}

void AppMain::rebuildMenu() {
  if (!menu_) createMenu();

  StatusMenuInputs inputs;
  inputs.lastMessage = lastMessage_;
  inputs.altHeld = altHeld_;
  inputs.canCheckForUpdates = updater().canCheckForUpdates();
  inputs.launchAtLoginEnabled = deps_.launchAtLogin && deps_.launchAtLogin->isEnabled();
  inputs.crashReportingEnabled = deps_.crashReporting && deps_.crashReporting->isCrashReportingEnabled();

  const StatusMenuModel next = statusMenuModel(inputs);
  QtMenuTarget target(actions_);
  applyMenuChanges(shownMenu_, next, target);
  shownMenu_ = next;

  // The tray icon has no accessible text of its own in Qt; the menu carries
  // it, also as its window title, where assistive tools and tests find it.
  const QString description = toQString(accessibleDescription_);
  if (menu_->accessibleDescription() != description) {
    menu_->setAccessibleDescription(description);
    menu_->setWindowTitle(description);
  }

  if (statusItem_ && statusItem_->contextMenu() != menu_.get()) statusItem_->setContextMenu(menu_.get());
}

void AppMain::createMenu() {
  menu_ = std::make_unique<QMenu>();
  const StatusMenuModel layout = statusMenuModel({});
  for (std::size_t i = 0; i < layout.items.size(); ++i) {
    QAction* action = layout.items[i].separator ? menu_->addSeparator() : menu_->addAction(QString());
    action->setCheckable(layout.items[i].checkable);
    actions_[i] = action;
  }
  connect(actions_[kAbout], &QAction::triggered, this, &AppMain::showAbout);
  connect(actions_[kDiagnostics], &QAction::triggered, this, &AppMain::showDisplayMap);
  connect(actions_[kCheckForUpdates], &QAction::triggered, this, &AppMain::checkForUpdates);
  connect(actions_[kLaunchAtLogin], &QAction::triggered, this, &AppMain::toggleLaunchAtLogin);
  connect(actions_[kSendCrashReports], &QAction::triggered, this, &AppMain::toggleCrashReporting);
  actions_[kQuit]->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  connect(actions_[kQuit], &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);

  connect(menu_.get(), &QMenu::aboutToShow, this, [this] {
    altHeld_ = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::AltModifier);
    rebuildMenu();
  });
  // A closed menu shows About, so a host that draws the menu before asking
  // for an update never opens it with the alternate left over.
  connect(menu_.get(), &QMenu::aboutToHide, this, [this] { setAltHeld(false); });
  menu_->installEventFilter(this);
}

bool AppMain::eventFilter(QObject* watched, QEvent* event) {
  // Pressing or releasing Alt while the menu is open swaps About and
  // diagnostics, as the modifier held at opening does.
  if (watched == menu_.get() && (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)) {
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Alt) setAltHeld(event->type() == QEvent::KeyPress);
    // Qt never matches the shortcut of an action that lives only in a
    // context menu, so the open menu takes Ctrl+Q itself.
    if (event->type() == QEvent::KeyPress && key->keyCombination() == QKeyCombination(Qt::CTRL, Qt::Key_Q)) {
      actions_[kQuit]->trigger();
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

void AppMain::setAltHeld(bool held) {
  if (altHeld_ == held && shownMenu_) return;
  altHeld_ = held;
  rebuildMenu();
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
