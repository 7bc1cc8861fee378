#include "app/services/UpdaterService.h"

#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>

#include "app/services/ServicesConfig.h"

namespace velmora::app {

namespace {

QString errorText(UpdateError error) {
  switch (error) {
    case UpdateError::noFeed:
      return QStringLiteral("This build of Velmora has no valid update feed address.");
    case UpdateError::certificate:
      return QStringLiteral(
          "The update server's certificate isn't trusted, so Velmora didn't read its update information.");
    case UpdateError::badFeed:
      return QStringLiteral("The update information from the server isn't valid. Please try again later.");
    case UpdateError::network:
      break;
  }
  return QStringLiteral(
      "Velmora couldn't reach the update server. Check your internet connection and try again later.");
}

}  // namespace

UpdaterService::UpdaterService(QUrl feed, QString installedVersion, Presenter present)
    : feed_(std::move(feed)), installedVersion_(std::move(installedVersion)), present_(std::move(present)) {
  QObject::connect(&check_, &UpdateCheck::finished, &check_, [this](const UpdateCheckResult& result) {
    if (availabilityChanged_) availabilityChanged_();
    if (present_) present_(alertParent_.data(), result);
  });
}

void UpdaterService::checkForUpdates(QWidget* alertParent) {
  if (check_.isRunning()) return;
  alertParent_ = alertParent;
  check_.start(feed_, installedVersion_);
  if (availabilityChanged_) availabilityChanged_();
}

bool UpdaterService::canCheckForUpdates() const {
  return !check_.isRunning();
}

void UpdaterService::setAvailabilityChangedHandler(std::function<void()> handler) {
  availabilityChanged_ = std::move(handler);
}

void UpdaterService::showResult(QWidget* parent, const UpdateCheckResult& result) {
  QMessageBox box(parent);
  box.setWindowTitle(QStringLiteral("Velmora"));
  switch (result.kind) {
    case UpdateCheckResult::Kind::upToDate:
      box.setIcon(QMessageBox::Information);
      box.setText(QStringLiteral("You're up to date!"));
      box.setInformativeText(
          QStringLiteral("Velmora %1 is currently the newest version available.").arg(config::kVersion));
      box.exec();
      return;
    case UpdateCheckResult::Kind::error:
      box.setIcon(QMessageBox::Warning);
      box.setText(QStringLiteral("Update Error!"));
      box.setInformativeText(errorText(result.error));
      if (!result.detail.isEmpty()) box.setDetailedText(result.detail);
      box.exec();
      return;
    case UpdateCheckResult::Kind::updateAvailable:
      break;
  }
  box.setIcon(QMessageBox::Information);
  box.setText(QStringLiteral("A new version of Velmora is available!"));
  const QString version = versionText(result.item);
  const QString installed = QString::fromLatin1(config::kVersion);
  box.setInformativeText(version.isEmpty()
                             ? QStringLiteral("A newer version of Velmora is available—you have %1.").arg(installed)
                             : QStringLiteral("Velmora %1 is now available—you have %2.").arg(version, installed));
  const auto page = result.item.downloadPage();
  QPushButton* learnMore = nullptr;
  if (page) {
    learnMore = box.addButton(QStringLiteral("Learn More…"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Later"), QMessageBox::RejectRole);
    box.setDefaultButton(learnMore);
  } else {
    box.addButton(QMessageBox::Ok);
  }
  box.exec();
  if (page && box.clickedButton() == learnMore) QDesktopServices::openUrl(*page);
}

std::unique_ptr<Updater> makeUpdater() {
  // A feed item's sparkle:version names a build, so it is compared with our
  // build number; the version people see is only shown.
  return std::make_unique<UpdaterService>(QUrl(QString::fromUtf8(config::kUpdateFeedURL)),
                                          QString::fromLatin1(config::kBuildNumber), UpdaterService::showResult);
}

}  // namespace velmora::app
