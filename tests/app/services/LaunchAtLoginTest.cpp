#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <filesystem>

#include "ServiceTestSupport.h"
#include "app/services/AutostartEntry.h"
#include "app/services/LaunchAtLoginService.h"
#include "app/services/Preferences.h"
#include "platform/KeyFile.h"

namespace velmora::app {
namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
  return test::readText(QString::fromStdString(path));
}
void writeFile(const std::string& path, const std::string& text) {
  test::writeText(QString::fromStdString(path), QByteArray::fromStdString(text));
}

class LaunchAtLoginTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir_.isValid());
    configHome_ = dir_.filePath("config").toStdString();
    settingsPath_ = dir_.filePath("prefs.ini");
    // A real, existing file stands in for the running executable.
    exe_ = dir_.filePath("bin dir/velmora").toStdString();
    writeFile(exe_, "");
    sink_ = std::make_shared<test::CapturingSink>();
    setLogSink(sink_);
  }
  void TearDown() override { setLogSink(nullptr); }

  LaunchAtLoginService service(std::optional<std::string> exe) {
    return LaunchAtLoginService(
        AutostartEntry(configHome_, std::move(exe)),
        [path = settingsPath_] { return std::make_unique<QSettings>(path, QSettings::IniFormat); },
        [this](QWidget*, const QString& informative, const QString& description) {
          alerts_.push_back({informative, description});
        });
  }

  QTemporaryDir dir_;
  std::string configHome_;
  QString settingsPath_;
  std::string exe_;
  std::shared_ptr<test::CapturingSink> sink_;
  std::vector<std::pair<QString, QString>> alerts_;
};

TEST_F(LaunchAtLoginTest, RegisterWritesAQuotedEntryAndStatusFollowsTheFile) {
  AutostartEntry entry(configHome_, exe_);
  EXPECT_EQ(entry.status(), LoginItemStatus::notRegistered);
  ASSERT_TRUE(entry.registerEntry().ok);
  EXPECT_EQ(entry.status(), LoginItemStatus::enabled);

  const std::string text = readFile(entry.entryPath());
  EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(text.find("Exec=\"" + exe_ + "\"\n"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(entry.directory()), fs::directory_iterator()), 1)
      << "no temporary file is left beside the entry";

  const std::pair<std::string, LoginItemStatus> edited[] = {
      // Disabled by the desktop's own settings.
      {text + "Hidden=true\n", LoginItemStatus::disabled},
      {"[Desktop Entry]\nExec=\"" + exe_ + "\"\nX-GNOME-Autostart-enabled=false\n", LoginItemStatus::disabled},
      {"[Desktop Entry]\nExec=/usr/bin/other\n", LoginItemStatus::notRegistered},
      {"[Other]\nExec=\"" + exe_ + "\"\n", LoginItemStatus::notRegistered},  // keys of other groups do not count
  };
  for (const auto& [content, status] : edited) {
    writeFile(entry.entryPath(), content);
    EXPECT_EQ(entry.status(), status) << content;
  }

  ASSERT_TRUE(entry.unregisterEntry().ok);
  EXPECT_FALSE(fs::exists(entry.entryPath()));
  EXPECT_TRUE(entry.unregisterEntry().ok) << "removing a missing entry is not an error";

  EXPECT_EQ(AutostartEntry(configHome_, std::nullopt).status(), LoginItemStatus::notFound);
  EXPECT_FALSE(AutostartEntry(configHome_, std::nullopt).registerEntry().ok);

  // An entry that is a folder can be neither replaced nor removed.
  fs::create_directories(entry.entryPath() + "/inside");
  EXPECT_FALSE(entry.registerEntry().ok);
  const auto removal = entry.unregisterEntry();
  ASSERT_FALSE(removal.ok);
  EXPECT_NE(removal.description.find(entry.entryPath() + ": "), std::string::npos);
}

TEST_F(LaunchAtLoginTest, ExecValueRoundTripsAwkwardPaths) {
  for (std::string path : {"/opt/Velmora/velmora", "/home/a b/x$y", "/p/100%/\"q\"/`w`\\z", "/a\\s/b\\\\n"}) {
    const auto exec = AutostartEntry::execValue(path);
    ASSERT_TRUE(exec) << path;
    // Through the file's reader, as status() reads it.
    const auto read = keyFileValue("[Desktop Entry]\nExec=" + *exec + "\n", "Desktop Entry", "Exec");
    ASSERT_TRUE(read) << *exec;
    EXPECT_EQ(AutostartEntry::programOfExec(*read), path) << *exec;
  }
  EXPECT_EQ(*AutostartEntry::execValue("/a b/$x"), "\"/a b/\\\\$x\"");
  EXPECT_EQ(*AutostartEntry::execValue("/a%b"), "\"/a%%b\"");
  EXPECT_FALSE(AutostartEntry::execValue("/bad\npath"));
  EXPECT_EQ(AutostartEntry::programOfExec("/usr/bin/x --flag"), "/usr/bin/x");
  EXPECT_FALSE(AutostartEntry::programOfExec("\"/unterminated"));
}

TEST_F(LaunchAtLoginTest, ToggleSwitchesAndReportsFailuresVerbatim) {
  auto svc = service(exe_);
  EXPECT_FALSE(svc.isEnabled());
  svc.toggleLaunchAtLogin(nullptr);
  EXPECT_TRUE(svc.isEnabled());
  svc.toggleLaunchAtLogin(nullptr);
  EXPECT_FALSE(svc.isEnabled());
  EXPECT_TRUE(alerts_.empty());
  EXPECT_TRUE(sink_->records().empty()) << "success logs nothing";

  // A path with a percent sign must reach the log unchanged.
  configHome_ = dir_.filePath("100%d conf").toStdString();
  writeFile(configHome_ + "/autostart", "");
  auto failing = service(exe_);
  failing.toggleLaunchAtLogin(nullptr);
  EXPECT_FALSE(failing.isEnabled());
  const auto lines = sink_->messages("General");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "Velmora: launch-at-login toggle failed: " + configHome_ + "/autostart: Not a directory");
  ASSERT_EQ(alerts_.size(), 1u);
  EXPECT_TRUE(alerts_[0].first.startsWith("Your desktop rejected the request. Check that "));
  EXPECT_TRUE(alerts_[0].first.endsWith("/autostart can be written."));
  EXPECT_EQ(alerts_[0].second.toStdString(), configHome_ + "/autostart: Not a directory");
}

TEST_F(LaunchAtLoginTest, FreshInstallDefaultRunsOnceAndOnlyTowardsEnabled) {
  {
    auto first = service(exe_);
    EXPECT_TRUE(first.isFreshInstall());
    first.applyFreshInstallLoginDefault();
    EXPECT_TRUE(first.isEnabled());
    EXPECT_FALSE(first.isFreshInstall());
  }
  EXPECT_EQ(sink_->messages("General"),
            std::vector<std::string>{"Velmora: defaulted Launch at Login ON for fresh install"});

  // The user switched it off; later launches leave it off.
  auto later = service(exe_);
  later.toggleLaunchAtLogin(nullptr);
  later.applyFreshInstallLoginDefault();
  EXPECT_FALSE(later.isEnabled());

  // First launch with the item already enabled: nothing registered or logged.
  QFile::remove(settingsPath_);
  later.toggleLaunchAtLogin(nullptr);
  const auto before = sink_->records().size();
  later.applyFreshInstallLoginDefault();
  EXPECT_EQ(sink_->records().size(), before);
  EXPECT_FALSE(later.isFreshInstall());

  // A failed first-launch registration is logged, not shown, and not retried.
  QFile::remove(settingsPath_);
  writeFile(configHome_ + "/elsewhere", "");
  configHome_ += "/elsewhere";
  auto failing = service(exe_);
  failing.applyFreshInstallLoginDefault();
  EXPECT_TRUE(alerts_.empty());
  const auto lines = sink_->messages("General");
  EXPECT_EQ(lines.back(), "Velmora: couldn't enable Launch at Login on fresh install: " + configHome_ +
                              "/autostart: Not a directory");
  EXPECT_FALSE(failing.isFreshInstall());
}

TEST_F(LaunchAtLoginTest, UnwritablePreferencesNeverSwitchLaunchAtLoginBackOn) {
  // A folder where the preferences file should be: nothing can be saved, so
  // every start looks like the first. The user has switched launch at login off.
  ASSERT_TRUE(QDir().mkpath(settingsPath_));
  for (int start = 0; start < 3; ++start) {
    auto svc = service(exe_);
    EXPECT_TRUE(svc.isFreshInstall());
    svc.applyFreshInstallLoginDefault();
    EXPECT_FALSE(svc.isEnabled()) << "start " << start;
  }
  EXPECT_EQ(sink_->messages("General"),
            std::vector<std::string>{"preferences not saved: " + settingsPath_.toStdString() + " cannot be written"})
      << "logged once, not once per write";
  EXPECT_TRUE(alerts_.empty());
}

}  // namespace
}  // namespace velmora::app
