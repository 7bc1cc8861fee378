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
  void SetUp() override {
    test::qtApp();
    setLogSink(sink);
  }
  void TearDown() override { setLogSink(nullptr); }

  std::unique_ptr<AppMain> makeApp(bool trayAvailable = true, bool showStatusItem = true) {
    AppMain::Dependencies deps;
    deps.makeCoordinator = [this] {
      s.events.push_back("coordinator.create");
      AppMain::Routing routing;
      routing.setOnStatusChanged = [this](AppMain::StatusCallback cb) {
        s.events.push_back("coordinator.handler");
        s.handler = std::move(cb);
      };
      routing.setOnDisplaysChanged = [this](AppMain::DisplaysCallback cb) { displays_ = std::move(cb); };
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
    deps.speakerChoices = choices_;
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
  std::shared_ptr<MemorySink> sink = std::make_shared<MemorySink>();
  std::vector<std::vector<SpeakerBinding>> stored_;
  std::shared_ptr<SpeakerChoices> choices_ = std::make_shared<SpeakerChoices>(
      std::vector<SpeakerBinding>{}, [this](const std::vector<SpeakerBinding>& b) { stored_.push_back(b); });
  AppMain::DisplaysCallback displays_;
  FakeUpdater* updater_ = nullptr;
  std::optional<MenuMirror::Handlers> mirror_;
  std::vector<StatusMenuModel> published_;
};

TEST_F(AppMainTest, LaunchRunsEveryStepOnceInOrder) {
  auto app = makeApp();
  EXPECT_EQ(s.events, Events{"coordinator.create"});

  app->applicationWillFinishLaunching();
  app->applicationDidFinishLaunching();
  EXPECT_EQ(s.events, (Events{"coordinator.create", "crash.start", "updater.create", "login.default",
                              "coordinator.handler", "coordinator.start"}));

  ASSERT_NE(app->statusItem(), nullptr);
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

TEST_F(AppMainTest, ASpeakersPickIsBoundToTheDisplayAndKept) {
  auto app = makeApp();
  app->applicationWillFinishLaunching();
  app->applicationDidFinishLaunching();
  const DisplayIdentity tv{"JVC", "LT-43", std::nullopt, "HDMI-A-1"};
  DisplaySpeakers speakers;
  speakers.displays = {{1, "Desk", {.connector = "DP-1"}, SpeakerPairing{41, PairingBasis::wholeName}, 41},
                       {2, "JVC", tv, std::nullopt, std::nullopt}};
  speakers.devices = {{41, "Desk Speakers", "hdmi-0"}, {43, "Soundbar", "usb-soundbar"}};
  ASSERT_TRUE(displays_);
  displays_(speakers);

  // Through the tray menu, as the user picks it.
  QAction* soundbar = app->trayMenu()->action(speakerPickId({2, 43}));
  ASSERT_NE(soundbar, nullptr);
  soundbar->trigger();
  EXPECT_EQ(choices_->bindings(), (std::vector<SpeakerBinding>{{tv, "usb-soundbar"}}));
  EXPECT_EQ(stored_.size(), 1u) << "kept in the preferences at once";
  EXPECT_FALSE(soundbar->isChecked()) << "checked once the displays say it is in force";
  speakers.displays[1].pairing = SpeakerPairing{43, PairingBasis::userChoice};
  displays_(speakers);
  EXPECT_TRUE(soundbar->isChecked());

  // Automatic again, through the mirror as GNOME's top bar would.
  mirror_->activate(speakerPickId({2, std::nullopt}));
  QCoreApplication::processEvents();
  EXPECT_TRUE(choices_->bindings().empty());
  // A pick of something gone changes nothing.
  app->activate(speakerPickId({7, 43}));
  EXPECT_EQ(stored_.size(), 2u);
  EXPECT_EQ(sink->messages.back(), "Velmora: that speakers choice is no longer there");

  // Stored choices that cannot apply are said once each.
  choices_->setBindings({{{.maker = "AST", .connector = "DP-2"}, "hdmi-1"}, {tv, "gone"}});
  displays_(speakers);
  displays_(speakers);
  const std::vector<std::string> said(sink->messages.end() - 2, sink->messages.end());
  EXPECT_EQ(said, (std::vector<std::string>{
                      "Velmora: the speakers chosen for AST on DP-2 wait: no display connected now is that one",
                      "Velmora: the speakers chosen for JVC LT-43 on HDMI-A-1 wait: device gone is not there"}));

  // Each display's speakers are a submenu of their own, which leaves with it.
  EXPECT_EQ(app->statusMenu()->actions().size(), 12) << "two speakers menus and their separator";
  ASSERT_NE(app->trayMenu()->action("speakers.2")->menu(), nullptr);
  EXPECT_EQ(app->trayMenu()->action("speakers.2")->menu()->actions().size(), 3);
  speakers.displays.pop_back();
  displays_(speakers);
  EXPECT_EQ(app->trayMenu()->action("speakers.2"), nullptr);
  EXPECT_EQ(app->trayMenu()->action(speakerPickId({2, 43})), nullptr);
  EXPECT_EQ(app->statusMenu()->actions().size(), 11);
}

TEST_F(AppMainTest, AltSwapsAboutForDiagnostics) {
  auto app = makeApp();
  app->applicationDidFinishLaunching();
  TrayMenu& tray = *app->trayMenu();
  auto showsDiagnostics = [&] {
    EXPECT_NE(tray.action(menu_id::kAbout)->isVisible(), tray.action(menu_id::kDiagnostics)->isVisible());
    return tray.action(menu_id::kDiagnostics)->isVisible();
  };
  auto key = [&](QEvent::Type type, Qt::KeyboardModifiers modifiers) {
    QKeyEvent event(type, Qt::Key_Alt, modifiers);
    QCoreApplication::sendEvent(app->statusMenu(), &event);
  };
  EXPECT_FALSE(showsDiagnostics());
  tray.setAltHeld(true);
  EXPECT_TRUE(showsDiagnostics());
  EXPECT_EQ(tray.action(menu_id::kDiagnostics)->text(), "Show diagnostics\u2026");
  s.handler(RoutingStatus::idle, "No media playing");
  EXPECT_TRUE(showsDiagnostics()) << "a status report while the menu is open keeps the alternate";
  key(QEvent::KeyRelease, Qt::NoModifier);
  EXPECT_FALSE(showsDiagnostics()) << "releasing Alt with the menu open";
  key(QEvent::KeyPress, Qt::AltModifier);
  EXPECT_TRUE(showsDiagnostics());
  emit app->statusMenu()->aboutToHide();
  EXPECT_FALSE(showsDiagnostics()) << "a closed menu always shows About";
}

// With no tray host, or with the status item turned off, velmora still routes
// and says why there is no icon, once. Without the status item it leaves
// launch at login alone: there is no menu to turn it off, and the entry would
// start velmora with one.
TEST_F(AppMainTest, WithoutATrayIconItStillRoutesAndSaysSoOnce) {
  struct Case {
    const char* what;
    bool trayAvailable;
    bool showStatusItem;
    Events events;
    bool saysNoTray;
  };
  const Case cases[] = {
      {"no tray host",
       false,
       true,
       {"coordinator.create", "crash.start", "updater.create", "login.default", "coordinator.handler",
        "coordinator.start"},
       true},
      {"status item off",
       true,
       false,
       {"coordinator.create", "crash.start", "updater.create-without-status-item", "coordinator.handler",
        "coordinator.start"},
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    s = Shared{};
    mirror_.reset();
    sink->messages.clear();
    auto app = makeApp(c.trayAvailable, c.showStatusItem);
    app->applicationWillFinishLaunching();
    app->applicationDidFinishLaunching();

    EXPECT_EQ(s.events, c.events);
    ASSERT_EQ(sink->messages.size(), 1u) << "said once";
    EXPECT_EQ(sink->messages[0].rfind("Velmora: ", 0), 0u);
    EXPECT_EQ(sink->messages[0].find("no system tray is available") != std::string::npos, c.saysNoTray);
    EXPECT_EQ(bool(mirror_), c.showStatusItem) << "a menu in GNOME Shell's top bar only with the status item";

    s.handler(RoutingStatus::tracking, "Tracking VLC");
    EXPECT_EQ(statusLine(*app), "Tracking VLC");
    EXPECT_EQ(app->statusItem() != nullptr, c.showStatusItem);
  }
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
