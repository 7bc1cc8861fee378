#pragma once

// Launch at login through the XDG autostart entry: the menu toggle with its
// failure alert, and the default switched on at the first launch.

#include <QString>
#include <functional>

#include "app/services/AutostartEntry.h"
#include "app/services/ShellServices.h"

class QSettings;

namespace velmora::app {

class LaunchAtLoginService final : public LaunchAtLogin {
 public:
  // Shows the failure alert: parent, informative text, error description.
  using AlertPresenter = std::function<void(QWidget*, const QString&, const QString&)>;

  LaunchAtLoginService(AutostartEntry entry, std::function<std::unique_ptr<QSettings>()> openSettings,
                       AlertPresenter presentAlert);

  bool isEnabled() override;
  void toggleLaunchAtLogin(QWidget* alertParent) override;
  void applyFreshInstallLoginDefault() override;

  bool isFreshInstall();

  static void showFailureAlert(QWidget* parent, const QString& informativeText, const QString& description);

 private:
  QString informativeText() const;

  AutostartEntry entry_;
  std::function<std::unique_ptr<QSettings>()> openSettings_;
  AlertPresenter presentAlert_;
};

}  // namespace velmora::app
