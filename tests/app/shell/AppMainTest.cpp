#include "app/shell/AppMain.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QtTestApp.h"
#include "platform/Log.h"

namespace velmora::app {
namespace {

using Events = std::vector<std::string>;

struct Shared {
  Events events;
  bool loginEnabled = false;
  bool crashEnabled = true;
  bool canCheck = true;
  int toggleReads = 0;
  AppMain::StatusCallback handler;
  AppMain* app = nullptr;
};

// The fakes share one record, so a test reads every call in one order.
struct FakeLogin final : LaunchAtLogin {
  explicit FakeLogin(Shared& s) : s(s) {}
  bool isEnabled() override { return ++s.toggleReads, s.loginEnabled; }
  void toggleLaunchAtLogin(QWidget*) override { s.events.push_back("login.toggle"), s.loginEnabled = !s.loginEnabled; }
  // A fresh install: switched on, without a redraw.
  void applyFreshInstallLoginDefault() override { s.events.push_back("login.default"), s.loginEnabled = true; }
  Shared& s;
};

struct FakeCrash final : CrashReporting {
  explicit FakeCrash(Shared& s) : s(s) {}
  bool isCrashReportingEnabled() override { return ++s.toggleReads, s.crashEnabled; }
  void startCrashReporting() override { s.events.push_back("crash.start"); }
  void toggleCrashReporting() override { s.events.push_back("crash.toggle"), s.crashEnabled = !s.crashEnabled; }
  Shared& s;
};

struct FakeUpdater final : Updater {
  explicit FakeUpdater(Shared& s) : s(s) {}
  void checkForUpdates(QWidget*) override { s.events.push_back("updater.check"); }
  bool canCheckForUpdates() const override { return s.canCheck; }
  void setAvailabilityChangedHandler(std::function<void()> handler) override { changed = std::move(handler); }
  Shared& s;
  std::function<void()> changed;
};

class MemorySink final : public LogSink {
 public:
  void write(const LogRecord& record) override {
    std::lock_guard lock(mutex);
    messages.push_back(record.message);
  }
  std::mutex mutex;
  std::vector<std::string> messages;
};

class AppMainTest : public ::testing::Test {
 protected:
  void SetUp() override { test::qtApp(); }

  std::unique_ptr<AppMain> makeApp(bool trayAvailable = true, bool showStatusItem = true) {
    AppMain::Dependencies deps;
    deps.makeCoordinator = [this] {
      s.events.push_back("coordinator.create");
      AppMain::Routing routing;
      routing.setOnStatusChanged = [this](AppMain::StatusCallback cb) {
        s.events.push_back("coordinator.handler");
        s.handler = std::move(cb);
      };
      routing.startRouting = [this] {
        s.events.push_back("coordinator.start");
        EXPECT_EQ(s.app->lastMessage(), "Starting\u2026");
        ASSERT_TRUE(s.app->shownMenu());
        EXPECT_EQ(s.app->shownMenu()->items[kStatusLine].title, "Starting\u2026");
      };
      return routing;
    };
    deps.launchAtLogin = std::make_unique<FakeLogin>(s);
    deps.crashReporting = std::make_unique<FakeCrash>(s);
    deps.makeUpdater = [this]() -> std::unique_ptr<Updater> {
      s.events.push_back(s.app->statusItem() ? "updater.create" : "updater.create-without-status-item");
      auto updater = std::make_unique<FakeUpdater>(s);
      updater_ = updater.get();
      return updater;
    };
    deps.trayAvailable = [trayAvailable] { return trayAvailable; };
    deps.showStatusItem = showStatusItem;
    auto app = std::make_unique<AppMain>(std::move(deps));
    s.app = app.get();
    return app;
  }

  QList<QAction*> actions(AppMain& app) { return app.statusMenu()->actions(); }

  Shared s;
  FakeUpdater* updater_ = nullptr;
};

TEST_F(AppMainTest, LaunchRunsEveryStepOnceInOrder) {
  auto app = makeApp();
  EXPECT_EQ(s.events, Events{"coordinator.create"});
  EXPECT_EQ(app->lastStatus(), RoutingStatus::idle);
  EXPECT_EQ(app->lastMessage(), "Starting\u2026");

  app->applicationWillFinishLaunching();
  app->applicationDidFinishLaunching();
  EXPECT_EQ(s.events, (Events{"coordinator.create", "crash.start", "updater.create", "login.default",
                              "coordinator.handler", "coordinator.start"}));

  ASSERT_NE(app->statusItem(), nullptr);
  EXPECT_EQ(app->statusItem()->toolTip(), "Velmora");
  EXPECT_FALSE(app->statusItem()->icon().isNull());
  EXPECT_EQ(app->statusItem()->contextMenu(), app->statusMenu());
  EXPECT_EQ(app->accessibleDescription(), "Velmora \u2014 Starting\u2026");

  // The menu was drawn before the login default, so its checkmark waits for
  // the next redraw.
  EXPECT_FALSE(app->shownMenu()->items[kLaunchAtLogin].checked);
  s.handler(RoutingStatus::tracking, "Tracking Firefox");
  EXPECT_TRUE(app->shownMenu()->items[kLaunchAtLogin].checked);
}

TEST_F(AppMainTest, ReportsAndTogglesShowInTheOneMenu) {
  auto app = makeApp();
  app->applicationWillFinishLaunching();
  app->applicationDidFinishLaunching();
  QMenu* menu = app->statusMenu();
  const auto items = actions(*app);
  ASSERT_EQ(items.size(), 9);
  EXPECT_EQ(items[kStatusLine]->text(), "Starting\u2026");
  EXPECT_FALSE(items[kStatusLine]->isEnabled());
  EXPECT_TRUE(items[kSendCrashReports]->isChecked());
  EXPECT_TRUE(items[kCheckForUpdates]->isEnabled());

  int changes = 0;
  for (QAction* action : items)
    QObject::connect(action, &QAction::changed, [&] { ++changes; });

  s.handler(RoutingStatus::tracking, "\u2192 Desk\tSpeakers\nHDMI");
  EXPECT_EQ(items[kStatusLine]->text(), "\u2192 Desk Speakers HDMI") << "one line, no shortcut column";
  s.handler(RoutingStatus::external, "External output (Black & White Headphones)");
  EXPECT_EQ(app->lastStatus(), RoutingStatus::external);
  EXPECT_EQ(app->lastMessage(), "External output (Black & White Headphones)");
  EXPECT_EQ(items[kStatusLine]->text(), "External output (Black && White Headphones)") << "no mnemonic";
  EXPECT_EQ(app->accessibleDescription(), "Velmora \u2014 External output (Black & White Headphones)");

  // The coordinator repeats itself twice a second; the tray must not churn
  // nor read the toggles' files each time, but an opening menu reads them.
  changes = 0;
  s.toggleReads = 0;
  s.handler(RoutingStatus::external, "External output (Black & White Headphones)");
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(s.toggleReads, 0);
  EXPECT_EQ(app->statusMenu(), menu);
  s.crashEnabled = false;  // switched off elsewhere
  emit menu->aboutToShow();
  EXPECT_FALSE(items[kSendCrashReports]->isChecked());
  s.crashEnabled = true;
  emit menu->aboutToShow();

  app->toggleCrashReporting();
  EXPECT_FALSE(items[kSendCrashReports]->isChecked());
  app->toggleLaunchAtLogin();
  EXPECT_FALSE(items[kLaunchAtLogin]->isChecked());
  app->toggleLaunchAtLogin();
  EXPECT_TRUE(items[kLaunchAtLogin]->isChecked());

  items[kCheckForUpdates]->trigger();
  EXPECT_EQ(s.events.back(), "updater.check");
  // A check in progress disables the item as soon as the updater says so.
  s.canCheck = false;
  ASSERT_NE(updater_, nullptr);
  ASSERT_TRUE(updater_->changed);
  updater_->changed();
  EXPECT_FALSE(items[kCheckForUpdates]->isEnabled());

  EXPECT_EQ(menu->windowTitle(), "Velmora — External output (Black & White Headphones)");

  // Ctrl+Q in the open menu quits (the application's own quit is unhooked).
  QObject::disconnect(items[kQuit], &QAction::triggered, qApp, nullptr);
  int quits = 0;
  QObject::connect(items[kQuit], &QAction::triggered, [&] { ++quits; });
  QKeyEvent ctrlQ(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier);
  QCoreApplication::sendEvent(menu, &ctrlQ);
  EXPECT_EQ(quits, 1);
  EXPECT_EQ(items[kQuit]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
  for (std::size_t i = 0; i < kQuit; ++i)
    EXPECT_TRUE(items[i]->shortcut().isEmpty()) << i;
}

TEST_F(AppMainTest, AltSwapsAboutForDiagnostics) {
  auto app = makeApp();
  app->applicationDidFinishLaunching();
  const auto items = actions(*app);
  EXPECT_TRUE(items[kAbout]->isVisible());
  EXPECT_FALSE(items[kDiagnostics]->isVisible());

  app->setAltHeld(true);
  EXPECT_FALSE(items[kAbout]->isVisible());
  EXPECT_TRUE(items[kDiagnostics]->isVisible());
  EXPECT_EQ(items[kDiagnostics]->text(), "Show diagnostics\u2026");

  // A status report while the menu is open keeps the alternate.
  s.handler(RoutingStatus::idle, "No media playing");
  EXPECT_TRUE(items[kDiagnostics]->isVisible());

  // Releasing Alt with the menu open brings About back.
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
  QCoreApplication::sendEvent(app->statusMenu(), &release);
  EXPECT_TRUE(items[kAbout]->isVisible());
  EXPECT_FALSE(items[kDiagnostics]->isVisible());
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
  QCoreApplication::sendEvent(app->statusMenu(), &press);
  EXPECT_TRUE(items[kDiagnostics]->isVisible());

  emit app->statusMenu()->aboutToHide();
  EXPECT_TRUE(items[kAbout]->isVisible());
  EXPECT_FALSE(items[kDiagnostics]->isVisible());
}

TEST_F(AppMainTest, WithoutATrayHostItStillRoutesAndSaysSoOnce) {
  auto sink = std::make_shared<MemorySink>();
  setLogSink(sink);
  auto app = makeApp(/*trayAvailable=*/false);
  app->applicationWillFinishLaunching();
  app->applicationDidFinishLaunching();
  setLogSink(nullptr);

  EXPECT_EQ(s.events.back(), "coordinator.start");
  ASSERT_EQ(sink->messages.size(), 1u);
  EXPECT_EQ(sink->messages[0].rfind("Velmora: ", 0), 0u);
  EXPECT_NE(sink->messages[0].find("status item cannot be shown"), std::string::npos);

  s.handler(RoutingStatus::tracking, "Tracking VLC");
  EXPECT_EQ(app->shownMenu()->items[kStatusLine].title, "Tracking VLC");
}

TEST_F(AppMainTest, WithoutTheStatusItemItRoutesAndMakesNoIcon) {
  auto sink = std::make_shared<MemorySink>();
  setLogSink(sink);
  auto app = makeApp(/*trayAvailable=*/true, /*showStatusItem=*/false);
  app->applicationWillFinishLaunching();
  app->applicationDidFinishLaunching();
  setLogSink(nullptr);

  EXPECT_EQ(app->statusItem(), nullptr);
  EXPECT_EQ(s.events, (Events{"coordinator.create", "crash.start", "updater.create-without-status-item",
                              "coordinator.handler", "coordinator.start"}));
  EXPECT_FALSE(s.loginEnabled);
  ASSERT_EQ(sink->messages.size(), 1u);
  EXPECT_EQ(sink->messages[0].rfind("Velmora: ", 0), 0u);
  EXPECT_EQ(sink->messages[0].find("cannot be shown"), std::string::npos);

  s.handler(RoutingStatus::tracking, "Tracking VLC");
  EXPECT_EQ(app->shownMenu()->items[kStatusLine].title, "Tracking VLC");
  EXPECT_EQ(app->statusItem(), nullptr);
}

TEST_F(AppMainTest, ReportsAfterTheShellIsGoneAreDropped) {
  auto app = makeApp();
  app->applicationDidFinishLaunching();
  ASSERT_TRUE(s.handler);
  app.reset();
  s.app = nullptr;
  s.handler(RoutingStatus::tracking, "Tracking Safari");  // must not touch the freed shell
  SUCCEED();
}

}  // namespace
}  // namespace velmora::app
