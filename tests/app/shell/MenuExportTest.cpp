// The status menu on a private session bus, as GNOME Shell and as any other
// client sees it. Skipped where dbus-daemon is not installed.

#include "app/shell/MenuExport.h"

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "MenuSamples.h"
#include "QtTestApp.h"
#include "support/PrivateBus.h"

namespace velmora::app {
namespace {

using ::velmora::test::PrivateBus;

// Another client of the bus, run from the test's thread between turns of the
// Qt event loop that runs the export.
class Peer {
 public:
  explicit Peer(const char* name = nullptr) {
    if (sd_bus_open_user(&bus_) < 0) return;
    if (name && sd_bus_request_name(bus_, name, 0) < 0) return;
    // Would also catch a Changed sent to everyone.
    up_ = sd_bus_add_match(bus_, nullptr, "type='signal',interface='co.quennet.Velmora.Menu',member='Changed'",
                           &Peer::onChanged, this) >= 0;
  }
  ~Peer() { sd_bus_flush_close_unref(bus_); }
  bool up() const { return up_; }

  // "ok" or the error's name; rows gets the items of a layout.
  std::string call(const char* method, const char* id = nullptr) {
    done_ = false;
    const int r = id ? sd_bus_call_method_async(bus_, nullptr, MenuExport::kBusName, MenuExport::kObjectPath,
                                                MenuExport::kInterface, method, &Peer::onReply, this, "s", id)
                     : sd_bus_call_method_async(bus_, nullptr, MenuExport::kBusName, MenuExport::kObjectPath,
                                                MenuExport::kInterface, method, &Peer::onReply, this, nullptr);
    if (r < 0 || !pump([this] { return done_; })) return "no reply";
    return result_;
  }

  // Turns both event loops until condition holds, for at most ten seconds.
  bool pump(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!condition() && std::chrono::steady_clock::now() < end) {
      QCoreApplication::processEvents();
      while (sd_bus_process(bus_, nullptr) > 0) {
      }
      sd_bus_wait(bus_, 5000);
    }
    return condition();
  }

  std::vector<std::uint32_t> changes;
  std::vector<std::string> header;
  std::vector<std::string> rows;

 private:
  static int onChanged(sd_bus_message* m, void* userdata, sd_bus_error*) {
    std::uint32_t revision = 0;
    if (sd_bus_message_read(m, "u", &revision) >= 0) static_cast<Peer*>(userdata)->changes.push_back(revision);
    return 0;
  }

  static int onReply(sd_bus_message* m, void* userdata, sd_bus_error*) {
    auto& self = *static_cast<Peer*>(userdata);
    self.done_ = true;
    const sd_bus_error* error = sd_bus_message_get_error(m);
    self.result_ = error ? error->name : "ok";
    if (error || !sd_bus_message_has_signature(m, "ussssa(ssssbbbbb)")) return 0;
    std::uint32_t revision = 0;
    const char *kind, *message, *accessible, *icon;
    sd_bus_message_read(m, "ussss", &revision, &kind, &message, &accessible, &icon);
    self.header = {std::to_string(revision), kind, message, accessible, icon};
    self.rows.clear();
    sd_bus_message_enter_container(m, 'a', "(ssssbbbbb)");
    const char *id, *parent, *type, *title;
    int enabled, visible, checkable, checked, alternate;
    while (sd_bus_message_read(m, "(ssssbbbbb)", &id, &parent, &type, &title, &enabled, &visible, &checkable, &checked,
                               &alternate) > 0) {
      self.rows.push_back(std::string(id) + "|" + parent + "|" + type + "|" + title + "|" + std::to_string(enabled) +
                          std::to_string(visible) + std::to_string(checkable) + std::to_string(checked) +
                          std::to_string(alternate));
    }
    return 0;
  }

  sd_bus* bus_ = nullptr;
  bool up_ = false;
  bool done_ = false;
  std::string result_;
};

StatusMenuModel menuWithSpeakers(const std::string& message) {
  StatusMenuInputs inputs;
  inputs.status = RoutingStatus::tracking;
  inputs.lastMessage = message;
  inputs.launchAtLoginEnabled = true;
  StatusMenuModel model = statusMenuModel(inputs);
  model.items.insert(model.items.end() - 2, test::speakersSubmenu());
  return model;
}

class MenuExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::qtApp();
    if (!PrivateBus::available()) GTEST_SKIP() << "dbus-daemon is not installed";
    bus_ = std::make_unique<PrivateBus>();
    ASSERT_TRUE(bus_->up()) << "the private bus did not start";
    MenuMirror::Handlers handlers;
    handlers.activate = [this](const std::string& id) { activated_.push_back(id); };
    handlers.refresh = [this] { ++refreshes_; };
    export_ = std::make_unique<MenuExport>(std::move(handlers));
    shell_ = std::make_unique<Peer>(MenuExport::kShellName);
    stranger_ = std::make_unique<Peer>();
    ASSERT_TRUE(shell_->up() && stranger_->up());
  }
  void TearDown() override {
    shell_.reset();
    stranger_.reset();
    export_.reset();
    bus_.reset();
  }

  std::unique_ptr<PrivateBus> bus_;
  std::unique_ptr<MenuExport> export_;
  std::vector<std::string> activated_;
  int refreshes_ = 0;
  std::unique_ptr<Peer> shell_;
  std::unique_ptr<Peer> stranger_;
};

TEST_F(MenuExportTest, TheShellReadsTheModelAndHearsOfEachChangeAlone) {
  Peer& shell = *shell_;
  // Outside text, as a device name may bring it: one line of valid UTF-8.
  export_->publish(menuWithSpeakers("\u2192 Studio\tTV \xff\xfe\n"));
  ASSERT_TRUE(shell.pump([&] { return !shell.changes.empty(); })) << "no Changed for the Shell";

  ASSERT_EQ(shell.call("GetLayout"), "ok");
  EXPECT_EQ(refreshes_, 1) << "the menu is brought up to date before it is read";
  EXPECT_EQ(shell.header, (std::vector<std::string>{std::to_string(shell.changes.back()), "tracking",
                                                    "\u2192 Studio TV \uFFFD\uFFFD ",
                                                    "Velmora \u2014 \u2192 Studio TV \uFFFD\uFFFD ", "MenuBarIcon"}));
  EXPECT_EQ(shell.rows, (std::vector<std::string>{
                            "status||action|\u2192 Studio TV \uFFFD\uFFFD |01000",
                            "after-status||separator||11000",
                            "about||action|About Velmora|11000",
                            "diagnostics||action|Show diagnostics\u2026|11001",
                            "check-for-updates||action|Check for Updates\u2026|01000",
                            "launch-at-login||action|Launch at login|11110",
                            "send-crash-reports||action|Send crash reports|11100",
                            "speakers||submenu|Speakers for Studio TV|11000",
                            "speakers/tv|speakers|action|Studio TV|11110",
                            "before-quit||separator||11000",
                            "quit||action|Quit Velmora|11000",
                        }));

  // A repeat sends nothing; each change, one signal with the next revision.
  const std::size_t before = shell.changes.size();
  export_->publish(menuWithSpeakers("\u2192 Studio\tTV \xff\xfe\n"));
  export_->publish(menuWithSpeakers("Tracking VLC"));
  ASSERT_TRUE(shell.pump([&] { return shell.changes.size() > before; }));
  ASSERT_EQ(shell.call("GetLayout"), "ok");  // everything sent before the reply has come
  EXPECT_EQ(shell.changes.size(), before + 1);
  EXPECT_EQ(shell.changes.back(), shell.changes[before - 1] + 1);
  EXPECT_EQ(shell.header[2], "Tracking VLC");
  EXPECT_EQ(stranger_->call("GetLayout"), "org.freedesktop.DBus.Error.AccessDenied");  // after any signal
  EXPECT_TRUE(stranger_->changes.empty()) << "only the Shell hears of changes";
}

TEST_F(MenuExportTest, OnlyTheShellsCurrentOwnerMayCallAndOnlyChoosableItemsRun) {
  export_->publish(menuWithSpeakers("Tracking VLC"));
  ASSERT_TRUE(shell_->pump([&] { return !shell_->changes.empty(); }));

  constexpr const char* kDenied = "org.freedesktop.DBus.Error.AccessDenied";
  constexpr const char* kInvalid = "org.freedesktop.DBus.Error.InvalidArgs";
  struct Case {
    Peer* caller;
    const char* method;
    const char* id;
    std::string reply;
  };
  const Case cases[] = {
      {stranger_.get(), "GetLayout", nullptr, kDenied}, {stranger_.get(), "Activate", "quit", kDenied},
      {shell_.get(), "Activate", "status", kInvalid},   {shell_.get(), "Activate", "after-status", kInvalid},
      {shell_.get(), "Activate", "speakers", kInvalid}, {shell_.get(), "Activate", "nothing", kInvalid},
      {shell_.get(), "Activate", "speakers/tv", "ok"},  {shell_.get(), "Activate", "quit", "ok"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.caller->call(c.method, c.id), c.reply) << c.method << " " << (c.id ? c.id : "");
  EXPECT_EQ(activated_, (std::vector<std::string>{"speakers/tv", "quit"}));

  // The Shell restarts as another connection: the name's new owner is heard
  // and told to read the menu, whoever called before.
  shell_.reset();
  Peer newShell(MenuExport::kShellName);
  ASSERT_TRUE(newShell.up());
  ASSERT_TRUE(newShell.pump([&] { return !newShell.changes.empty(); })) << "the new Shell was not told";
  EXPECT_EQ(newShell.call("GetLayout"), "ok");
  EXPECT_EQ(stranger_->call("GetLayout"), kDenied);
}

}  // namespace
}  // namespace velmora::app
