#include "platform/linux/proc/ProcApplications.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "platform/linux/proc/FakeProcTree.h"
#include "platform/linux/proc/KnownApplications.h"

namespace velmora::linuxos {
namespace {

namespace fs = std::filesystem;

class FakeProc : public FakeProcTree {
 protected:
  ProcApplications apps(std::function<WindowOwners()> owners = nullptr) {
    ProcApplicationsOptions options;
    options.procRoot = root_ / "proc";
    options.dataDirs = {root_ / "share"};
    options.windowOwners = std::move(owners);
    return ProcApplications(options);
  }
};

TEST(ProcStatParsing, CommandWithSpacesAndParentheses) {
  auto stat = parseProcStat("4242 (Web Content (x) ) S 17 4242 4242 0 -1");
  ASSERT_TRUE(stat);
  EXPECT_EQ(stat->command, "Web Content (x) ");
  EXPECT_EQ(stat->parent, 17);
  EXPECT_FALSE(stat->startTime);
  EXPECT_EQ(parseProcStat("9 (a) b) R 1 9 9 0 -1 4194560 9 0 0 0 3 1 0 0 20 0 1 0 123456 99 9\n")->startTime, 123456);

  for (const char* bad : {"", "12 (x) S", "12 (x) S abc 1", "12 (x) S 99999999999 1", "12 (x) S -3 1", "12 x) S 3 1 ("})
    EXPECT_FALSE(parseProcStat(bad)) << bad;
}

TEST(ProcIdentityParsing, FlatpakInfoAndSnapCgroup) {
  EXPECT_EQ(parseFlatpakAppId("[Instance]\nname=wrong\n[Application]\nruntime=x\nname = org.videolan.VLC \n"),
            "org.videolan.VLC");
  EXPECT_FALSE(parseFlatpakAppId("[Runtime]\nname=org.freedesktop.Platform\n"));
  EXPECT_FALSE(parseFlatpakAppId("[Application]\nname=\n"));

  EXPECT_EQ(parseSnapName("0::/user.slice/user-1000.slice/app.slice/snap.firefox.firefox-12ab.scope\n"), "firefox");
  for (const char* other : {"0::/user.slice/user-1000.slice/app-gnome-firefox-1.scope\n",
                            "0::/user.slice/mysnap.x.scope\n", "0::/snap./x\n"})
    EXPECT_FALSE(parseSnapName(other)) << other;

  EXPECT_EQ(parseInnermostPid("Name:\tfirefox\nTgid:\t4242\nNSpid:\t4242\t7\t2\nPPid:\t1\n"), 2);
  EXPECT_EQ(parseInnermostPid("NSpid:\t4242\n"), 4242);
  for (const char* bad : {"Pid:\t12\n", "NSpid:\n", "NSpid:\t12\tx\n", "XNSpid:\t3\n"})
    EXPECT_FALSE(parseInnermostPid(bad)) << bad;
}

TEST_F(FakeProc, HelperProcessesLeadUpToTheBrowsersMainProcess) {
  process(1, 0, "systemd");
  process(100, 1, "bash");
  process(200, 100, "firefox");
  process(210, 200, "firefox", "Web Content");
  process(300, 100, "chrome");
  process(310, 300, "chrome", "chrome");  // zygote
  process(320, 310, "chrome", "chrome");  // renderer
  auto a = apps();

  EXPECT_EQ(a.runningApplication(200), (RunningApplication{200, "org.mozilla.firefox", "firefox"}));
  EXPECT_FALSE(a.runningApplication(210));
  EXPECT_EQ(a.parentPid(210), 200);
  EXPECT_TRUE(a.runningApplication(300));
  EXPECT_FALSE(a.runningApplication(310));
  EXPECT_FALSE(a.runningApplication(320));
  EXPECT_FALSE(a.runningApplication(100));  // no identity, no window
  EXPECT_FALSE(a.runningApplication(999));  // gone
  EXPECT_FALSE(a.parentPid(999));
  EXPECT_FALSE(a.runningApplication(0));
  EXPECT_FALSE(a.runningApplication(-5));

  std::vector<Pid> pids;
  for (const auto& app : a.runningApplications())
    pids.push_back(app.processIdentifier);
  EXPECT_EQ(pids, (std::vector<Pid>{200, 300}));
}

TEST_F(FakeProc, FlatpakAndSnapIdentities) {
  process(100, 1, "bash");
  sandboxed(150, 100, "bwrap", "org.videolan.VLC", 1);
  sandboxed(151, 150, "vlc", "org.videolan.VLC", 2);
  sandboxed(160, 100, "app", "org.example.Other", 2);
  process(170, 100, "firefox");
  write(root_ / "proc/170/cgroup", "0::/user.slice/app.slice/snap.firefox.firefox-77.scope\n");
  process(171, 170, "firefox");
  write(root_ / "proc/171/cgroup", "0::/user.slice/app.slice/snap.firefox.firefox-77.scope\n");
  write(root_ / "share/applications/org.videolan.VLC.desktop",
        "[Desktop Entry]\nName[de]=VLC-Medienspieler\nName=VLC media player\n[Desktop Action x]\nName=Other\n");
  auto a = apps();

  EXPECT_FALSE(a.runningApplication(150));  // the sandbox launcher
  EXPECT_EQ(a.runningApplication(151), (RunningApplication{151, "org.videolan.vlc", "VLC media player"}));
  EXPECT_EQ(a.runningApplication(160), (RunningApplication{160, "org.example.Other", "app"}));
  EXPECT_EQ(a.runningApplication(170)->bundleIdentifier, "org.mozilla.firefox");
  EXPECT_FALSE(a.runningApplication(171));
}

TEST_F(FakeProc, RememberedLookupsHoldOnlyWhileTheyAreTrue) {
  process(100, 1, "bash");
  sandboxed(500, 100, "app", "org.videolan.VLC", 2);
  write(root_ / "share/applications/mpv.desktop", "[Desktop Entry]\nName=mpv Media Player\n");
  auto a = apps();
  EXPECT_EQ(a.runningApplication(500)->bundleIdentifier, "org.videolan.vlc");

  // The pid reused by the same program started later, outside any sandbox.
  fs::remove_all(root_ / "proc/500");
  process(500, 100, "app", "", 9000);
  EXPECT_FALSE(a.runningApplication(500));
  // The same process after exec of another program.
  process(500, 100, "mpv", "", 9000);
  EXPECT_EQ(a.runningApplication(500), (RunningApplication{500, "io.mpv.Mpv", "mpv Media Player"}));
  // Desktop entries are read once; a missing one later is harmless.
  fs::remove(root_ / "share/applications/mpv.desktop");
  EXPECT_EQ(a.runningApplication(500)->localizedName, "mpv Media Player");
  // A parent that becomes the same application hides its child.
  process(100, 1, "mpv");
  EXPECT_FALSE(a.runningApplication(500));
}

TEST_F(FakeProc, WindowOwnersWithoutIdentityAndNames) {
  process(100, 1, "bash");
  process(400, 100, "", "some game");  // exe link hidden: the command name stands in
  process(401, 100, "xterm");
  process(402, 100, "mpv");
  int reads = 0;
  auto a = apps([&] {
    ++reads;
    return WindowOwners{{400, ""}, {401, "XTerm"}};
  });

  EXPECT_EQ(a.runningApplication(401), (RunningApplication{401, std::nullopt, "XTerm"}));
  EXPECT_EQ(a.runningApplication(400), (RunningApplication{400, std::nullopt, "some game"}));
  EXPECT_EQ(a.runningApplication(402), (RunningApplication{402, "io.mpv.Mpv", "mpv"}));
  EXPECT_FALSE(a.runningApplication(100));
  EXPECT_EQ(reads, 1);  // cached between lookups
}

TEST(KnownApplicationsTable, MapsTheSupportedProductsAndAddsLinuxPlayers) {
  EXPECT_EQ(knownByExecutable("firefox-esr")->identifier, "org.mozilla.firefox");
  EXPECT_EQ(knownByFlatpakId("tv.plex.PlexDesktop")->identifier, "com.plex.Plex");
  EXPECT_EQ(knownByExecutable("Firefox"), nullptr);
  // The additions only: the supported products are followed anyway.
  const auto extra = linuxMediaAppIdentifiers();
  EXPECT_NE(std::find(extra.begin(), extra.end(), "io.mpv.Mpv"), extra.end());
  EXPECT_EQ(std::find(extra.begin(), extra.end(), "org.mozilla.firefox"), extra.end());
}

}  // namespace
}  // namespace velmora::linuxos
