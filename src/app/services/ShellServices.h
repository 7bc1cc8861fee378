#pragma once

// What the tray shell asks of its platform services: launch at login,
// crash-report consent and start-up, and update checks. The shell calls these
// from the main thread only.

#include <functional>
#include <memory>
#include <string>

class QWidget;

namespace velmora::app {

class LaunchAtLogin {
 public:
  virtual ~LaunchAtLogin() = default;
  // Whether the login item is registered and enabled right now.
  virtual bool isEnabled() = 0;
  // Registers or unregisters; on failure logs and shows the failure alert.
  virtual void toggleLaunchAtLogin(QWidget* alertParent) = 0;
  // On the first launch only, switches launch at login on; logs the outcome.
  virtual void applyFreshInstallLoginDefault() = 0;
};

class CrashReporting {
 public:
  virtual ~CrashReporting() = default;
  virtual bool isCrashReportingEnabled() = 0;
  // Starts the crash reporter when configured and allowed; logs why not.
  virtual void startCrashReporting() = 0;
  // Stores the opposite preference; starts reporting when it is now on.
  virtual void toggleCrashReporting() = 0;
};

class Updater {
 public:
  virtual ~Updater() = default;
  // A user-initiated check with its own alerts.
  virtual void checkForUpdates(QWidget* alertParent) = 0;
  // False while a check runs.
  virtual bool canCheckForUpdates() const = 0;
  // Called on the main thread whenever canCheckForUpdates may have changed.
  virtual void setAvailabilityChangedHandler(std::function<void()> handler) = 0;
};

// The Linux implementations.
std::unique_ptr<LaunchAtLogin> makeLaunchAtLogin();
std::unique_ptr<CrashReporting> makeCrashReporting();
// Created and started on first use, at the first menu build.
std::unique_ptr<Updater> makeUpdater();

}  // namespace velmora::app
