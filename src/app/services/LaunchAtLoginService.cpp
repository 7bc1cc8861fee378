#include "app/services/LaunchAtLoginService.h"

#include <QDir>
#include <QMessageBox>
#include <QSettings>

#include "app/services/Preferences.h"
#include "platform/Log.h"

namespace velmora::app {

namespace {

const Logger& generalLog() {
  static const Logger log(kVelmoraSubsystem, "General");
  return log;
}

}  // namespace

LaunchAtLoginService::LaunchAtLoginService(AutostartEntry entry,
                                           std::function<std::unique_ptr<QSettings>()> openSettings,
                                           AlertPresenter presentAlert)
    : entry_(std::move(entry)), openSettings_(std::move(openSettings)), presentAlert_(std::move(presentAlert)) {}

bool LaunchAtLoginService::isEnabled() {
  return entry_.status() == LoginItemStatus::enabled;
}

void LaunchAtLoginService::toggleLaunchAtLogin(QWidget* alertParent) {
  const LoginItemResult result = isEnabled() ? entry_.unregisterEntry() : entry_.registerEntry();
  if (result.ok) return;
  // The description carries paths, which may hold '%': pass it as an argument.
  generalLog().info("%s", {"Velmora: launch-at-login toggle failed: " + result.description});
  if (presentAlert_) presentAlert_(alertParent, informativeText(), QString::fromStdString(result.description));
}

bool LaunchAtLoginService::isFreshInstall() {
  auto settings = openSettings_();
  return !settings->contains(kLaunchedBeforeKey);
}

void LaunchAtLoginService::applyFreshInstallLoginDefault() {
  if (!isFreshInstall()) return;
  // The marker comes first. Were it lost, every start would count as the
  // first and switch launch at login back on after the user turned it off;
  // a failed registration is not retried either.
  if (!storePreference(*openSettings_(), kLaunchedBeforeKey, true)) return;
  if (isEnabled()) return;
  const LoginItemResult result = entry_.registerEntry();
  if (result.ok)
    generalLog().info("Velmora: defaulted Launch at Login ON for fresh install");
  else
    generalLog().info("Velmora: couldn't enable Launch at Login on fresh install: %s", {result.description});
}

QString LaunchAtLoginService::informativeText() const {
  QString dir = QString::fromStdString(entry_.directory());
  const QString home = QDir::homePath();
  if (home != "/" && dir.startsWith(home + "/")) dir = "~" + dir.mid(home.size());
  return QStringLiteral("Your desktop rejected the request. Check that %1 can be written.").arg(dir);
}

void LaunchAtLoginService::showFailureAlert(QWidget* parent, const QString& informativeText,
                                            const QString& description) {
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Velmora"), QStringLiteral("Couldn't change Launch at Login"),
                  QMessageBox::Ok, parent);
  box.setInformativeText(informativeText);
  box.setDetailedText(description);
  box.exec();
}

std::unique_ptr<LaunchAtLogin> makeLaunchAtLogin() {
  return std::make_unique<LaunchAtLoginService>(AutostartEntry::forCurrentUser(), openPreferences,
                                                LaunchAtLoginService::showFailureAlert);
}

}  // namespace velmora::app
