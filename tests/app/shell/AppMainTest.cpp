#include "app/shell/AppMain.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QCoreApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "QtTestApp.h"
#include "app/shell/TrayMenu.h"
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
  int quits = 0;
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

struct FakeMirror final : MenuMirror {
  explicit FakeMirror(std::vector<StatusMenuModel>& published) : published(published) {}
  void publish(const StatusMenuModel& model) override { published.push_back(model); }
  std::vector<StatusMenuModel>& published;
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
        EXPECT_EQ(statusLine(*s.app), "Starting\u2026");
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
    deps.quit = [this] { ++s.quits; };
    deps.makeMenuMirror = [this](MenuMirror::Handlers handlers) -> std::unique_ptr<MenuMirror> {
      mirror_ = std::move(handlers);
      return std::make_unique<FakeMirror>(published_);
    };
    auto app = std::make_unique<AppMain>(std::move(deps));
    s.app = app.get();
    return app;
  }

  static std::string statusLine(const AppMain& app) {
    const MenuItemState* item = app.shownMenu() ? findMenuItem(app.shownMenu()->items, menu_id::kStatus) : nullptr;
    return item ? item->title : "(none)";
  }
  static bool checked(const AppMain& app, const char* id) { return findMenuItem(app.shownMenu()->items, id)->checked; }

  Shared s;
  FakeUpdater* updater_ = nullptr;
  std::optional<MenuMirror::Handlers> mirror_;
  std::vector<StatusMenuModel> published_;
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
  EXPECT_FALSE(checked(*app, menu_id::kLaunchAtLogin));
  s.handler(RoutingStatus::tracking, "Tracking Firefox");
  EXPECT_TRUE(checked(*app, menu_id::kLaunchAtLogin));
}

TEST_F(AppMainTest, ReportsAndTogglesShowInTheOneMenu) {
  auto app = makeApp();
  app->applicationWillFinishLaunching();
  app->applicationDidFinishLaunching();
  QMenu* menu = app->statusMenu();
  auto item = [&](const char* id) { return app->trayMenu()->action(id); };
  ASSERT_EQ(menu->actions().size(), 9);
  EXPECT_EQ(item(menu_id::kStatus)->text(), "Starting\u2026");
  EXPECT_FALSE(item(menu_id::kStatus)->isEnabled());
  EXPECT_TRUE(item(menu_id::kSendCrashReports)->isChecked());
  EXPECT_TRUE(item(menu_id::kCheckForUpdates)->isEnabled());

  int changes = 0;
  for (QAction* action : menu->actions())
    QObject::connect(action, &QAction::changed, [&] { ++changes; });

  s.handler(RoutingStatus::tracking, "\u2192 Desk\tSpeakers\nHDMI");
  EXPECT_EQ(item(menu_id::kStatus)->text(), "\u2192 Desk Speakers HDMI") << "one line, no shortcut column";
  s.handler(RoutingStatus::external, "External output (Black & White Headphones)");
  EXPECT_EQ(app->lastStatus(), RoutingStatus::external);
  EXPECT_EQ(app->lastMessage(), "External output (Black & White Headphones)");
  EXPECT_EQ(item(menu_id::kStatus)->text(), "External output (Black && White Headphones)") << "no mnemonic";
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
  EXPECT_FALSE(item(menu_id::kSendCrashReports)->isChecked());
  s.crashEnabled = true;
  emit menu->aboutToShow();

  app->toggleCrashReporting();
  EXPECT_FALSE(item(menu_id::kSendCrashReports)->isChecked());
  app->toggleLaunchAtLogin();
  EXPECT_FALSE(item(menu_id::kLaunchAtLogin)->isChecked());
  item(menu_id::kLaunchAtLogin)->trigger();
  EXPECT_TRUE(item(menu_id::kLaunchAtLogin)->isChecked());

  item(menu_id::kCheckForUpdates)->trigger();
  EXPECT_EQ(s.events.back(), "updater.check");
  // A check in progress disables the item as soon as the updater says so.
  s.canCheck = false;
  ASSERT_NE(updater_, nullptr);
  ASSERT_TRUE(updater_->changed);
  updater_->changed();
  EXPECT_FALSE(item(menu_id::kCheckForUpdates)->isEnabled());

  EXPECT_EQ(menu->windowTitle(), "Velmora — External output (Black & White Headphones)");

  // Ctrl+Q in the open menu quits, once the key press has been handled.
  QKeyEvent ctrlQ(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier);
  QCoreApplication::sendEvent(menu, &ctrlQ);
  EXPECT_EQ(s.quits, 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(s.quits, 1);
  for (QAction* action : menu->actions())
    EXPECT_EQ(action->shortcut().isEmpty(), action != item(menu_id::kQuit)) << action->text().toStdString();
  EXPECT_EQ(item(menu_id::kQuit)->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
}

TEST_F(AppMainTest, TheIconFollowsTheStatusKindAndChangesOnlyWithIt) {
  auto app = makeApp();
  app->applicationDidFinishLaunching();
  std::vector<qint64> icons;
  for (RoutingStatus kind :
       {RoutingStatus::idle, RoutingStatus::tracking, RoutingStatus::override, RoutingStatus::external}) {
    s.handler(kind, "first");
    const qint64 icon = app->statusItem()->icon().cacheKey();
    s.handler(kind, "second");
    EXPECT_EQ(app->statusItem()->icon().cacheKey(), icon) << routingStatusName(kind);
    EXPECT_EQ(std::count(icons.begin(), icons.end(), icon), 0) << routingStatusName(kind);
    icons.push_back(icon);
  }
}

TEST_F(AppMainTest, TheMirrorGetsEachChangeOnceAndChoosesItems) {
  auto app = makeApp();
  app->applicationDidFinishLaunching();
  ASSERT_TRUE(mirror_);
  ASSERT_EQ(published_.size(), 1u);
  EXPECT_EQ(published_.back(), *app->shownMenu()) << "the tray and the mirror show one model";

  s.handler(RoutingStatus::tracking, "Tracking VLC");
  s.handler(RoutingStatus::tracking, "Tracking VLC");
  app->trayMenu()->setAltHeld(true);  // the tray's own affair
  EXPECT_EQ(published_.size(), 2u);
  EXPECT_EQ(published_.back().message, "Tracking VLC");

  // Before the top bar shows the menu, the toggles are read again.
  s.crashEnabled = false;
  mirror_->refresh();
  ASSERT_EQ(published_.size(), 3u);
  EXPECT_FALSE(findMenuItem(published_.back().items, menu_id::kSendCrashReports)->checked);

  // Chosen from the top bar: run later, from the event loop.
  mirror_->activate(menu_id::kLaunchAtLogin);
  mirror_->activate(menu_id::kQuit);
  EXPECT_EQ(s.quits, 0);
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(s.quits, 1);
  // The fresh install's default, turned off.
  EXPECT_EQ(s.events.back(), "login.toggle");
  EXPECT_FALSE(findMenuItem(published_.back().items, menu_id::kLaunchAtLogin)->checked);
}

TEST_F(AppMainTest, AltSwapsAboutForDiagnostics) {
  auto app = makeApp();
  app->applicationDidFinishLaunching();
  TrayMenu& tray = *app->trayMenu();
  auto visible = [&](const char* id) { return tray.action(id)->isVisible(); };
  EXPECT_TRUE(visible(menu_id::kAbout));
  EXPECT_FALSE(visible(menu_id::kDiagnostics));

  tray.setAltHeld(true);
  EXPECT_FALSE(visible(menu_id::kAbout));
  EXPECT_TRUE(visible(menu_id::kDiagnostics));
  EXPECT_EQ(tray.action(menu_id::kDiagnostics)->text(), "Show diagnostics\u2026");

  // A status report while the menu is open keeps the alternate.
  s.handler(RoutingStatus::idle, "No media playing");
  EXPECT_TRUE(visible(menu_id::kDiagnostics));

  // Releasing Alt with the menu open brings About back.
  QKeyEvent release(QEvent::KeyRelease, Qt::Key_Alt, Qt::NoModifier);
  QCoreApplication::sendEvent(app->statusMenu(), &release);
  EXPECT_TRUE(visible(menu_id::kAbout));
  EXPECT_FALSE(visible(menu_id::kDiagnostics));
  QKeyEvent press(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier);
  QCoreApplication::sendEvent(app->statusMenu(), &press);
  EXPECT_TRUE(visible(menu_id::kDiagnostics));

  emit app->statusMenu()->aboutToHide();
  EXPECT_TRUE(visible(menu_id::kAbout));
  EXPECT_FALSE(visible(menu_id::kDiagnostics));
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
  EXPECT_EQ(statusLine(*app), "Tracking VLC");
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
  EXPECT_EQ(statusLine(*app), "Tracking VLC");
  EXPECT_EQ(app->statusItem(), nullptr);
  EXPECT_FALSE(mirror_) << "nor a menu in GNOME Shell's top bar";
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
