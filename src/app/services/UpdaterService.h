#pragma once

// "Check for Updates…": a user-initiated appcast check with its alerts.

#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <functional>

#include "app/services/ShellServices.h"
#include "app/services/UpdateCheck.h"

namespace velmora::app {

class UpdaterService final : public Updater {
 public:
  using Presenter = std::function<void(QWidget*, const UpdateCheckResult&)>;

  UpdaterService(QUrl feed, QString installedVersion, Presenter present);

  void checkForUpdates(QWidget* alertParent) override;
  bool canCheckForUpdates() const override;
  void setAvailabilityChangedHandler(std::function<void()> handler) override;

  // The alerts: up to date, update available (with its download page), error.
  static void showResult(QWidget* parent, const UpdateCheckResult& result);

  // The version text the update alert shows: the display version unchanged.
  static QString versionText(const AppcastItem& item) { return item.displayVersion; }

 private:
  QUrl feed_;
  QString installedVersion_;
  Presenter present_;
  UpdateCheck check_;
  QPointer<QWidget> alertParent_;
  std::function<void()> availabilityChanged_;
};

}  // namespace velmora::app
