// Placeholders until the real login-item, crash-report and update services
// land: they report "not enabled" and change nothing.
#include "app/services/ShellServices.h"

namespace velmora::app {

namespace {

class NoLaunchAtLogin final : public LaunchAtLogin {
 public:
  bool isEnabled() override { return false; }
  void toggleLaunchAtLogin(QWidget*) override {}
  void applyFreshInstallLoginDefault() override {}
};

class NoCrashReporting final : public CrashReporting {
 public:
  bool isCrashReportingEnabled() override { return false; }
  void startCrashReporting() override {}
  void toggleCrashReporting() override {}
};

class NoUpdater final : public Updater {
 public:
  void checkForUpdates(QWidget*) override {}
  bool canCheckForUpdates() const override { return false; }
  void setAvailabilityChangedHandler(std::function<void()>) override {}
};

}  // namespace

std::unique_ptr<LaunchAtLogin> makeLaunchAtLogin() { return std::make_unique<NoLaunchAtLogin>(); }
std::unique_ptr<CrashReporting> makeCrashReporting() { return std::make_unique<NoCrashReporting>(); }
std::unique_ptr<Updater> makeUpdater() { return std::make_unique<NoUpdater>(); }

}  // namespace velmora::app
