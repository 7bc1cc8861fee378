#include "platform/linux/hyprland/HyprlandReplies.h"

#include <gtest/gtest.h>

#include "platform/linux/hyprland/HyprlandIpc.h"
#include "platform/linux/hyprland/HyprlandRules.h"

namespace velmora::linuxos::hyprland {
namespace {

// `hyprctl -j monitors` as Hyprland 0.56 writes it (src/debug/HyprCtl.cpp):
// a 4K monitor at scale 1.5, a second one turned a quarter, the same model
// twice, one with no EDID and a disabled one (listed with `monitors all`).
// Fields it has had for long are given in full for the first monitor only.
constexpr const char* kMonitors = R"([{
    "id": 0, "name": "DP-1", "description": "Dell Inc. DELL U2720Q 8LXMZ13", "make": "Dell Inc.",
    "model": "DELL U2720Q", "serial": "8LXMZ13", "width": 3840, "height": 2160, "physicalWidth": 600,
    "physicalHeight": 340, "refreshRate": 59.99700, "x": 0, "y": 0, "activeWorkspace": {"id": 1, "name": "1"},
    "specialWorkspace": {"id": 0, "name": ""}, "reserved": [0, 0, 0, 0], "scale": 1.5, "transform": 0,
    "focused": true, "dpmsStatus": true, "vrr": false, "solitary": "0", "solitaryBlockedBy": ["CANDIDATE"],
    "activelyTearing": false, "tearingBlockedBy": ["NOT_TORN", "USER"], "directScanoutTo": "0",
    "directScanoutBlockedBy": ["USER", "CANDIDATE"], "disabled": false, "currentFormat": "XRGB8888",
    "mirrorOf": "none", "availableModes": ["3840x2160@60.00Hz", "2560x1440@59.95Hz"],
    "colorManagementPreset": "srgb", "sdrBrightness": 1, "sdrSaturation": 1, "sdrMinLuminance": 0.2,
    "sdrMaxLuminance": 80, "hardwareCursorsInUse": true
},{
    "id": 1, "name": "DP-2", "description": "Dell Inc. DELL U2720Q 9QWE", "make": "Dell Inc.",
    "model": "DELL U2720Q", "serial": "9QWE", "width": 1920, "height": 1080, "x": 2560, "y": 0,
    "activeWorkspace": {"id": 2, "name": "2"}, "specialWorkspace": {"id": -98, "name": "special:magic"},
    "scale": 1, "transform": 1, "disabled": false, "solitaryBlockedBy": null
},{
    "id": 2, "name": "HDMI-A-1", "description": "", "make": "", "model": "", "serial": "", "width": 1280,
    "height": 720, "x": 4640, "y": 0, "activeWorkspace": {"id": 3, "name": "3"},
    "specialWorkspace": {"id": 0, "name": ""}, "scale": 1, "transform": 0, "disabled": false
},{
    "id": 3, "name": "eDP-1", "description": "BOE 0x0BCA", "make": "BOE", "model": "", "serial": "",
    "width": 2256, "height": 1504, "x": -1504, "y": 0, "activeWorkspace": {"id": -1, "name": ""},
    "specialWorkspace": {"id": 0, "name": ""}, "scale": 2, "transform": 0, "disabled": true
}])";

// `hyprctl -j clients` as Hyprland 0.56 writes it: fields it has had since
// 0.50 are given in full for the first window only.
constexpr const char* kClients = R"([{
    "address": "0x55d8c7e0a2b0", "mapped": true, "hidden": false, "visible": true, "acceptsInput": true,
    "at": [10, 40], "size": [2540, 1390], "workspace": {"id": 1, "name": "1"}, "floating": false, "monitor": 0,
    "class": "firefox", "title": "Video - Mozilla Firefox", "initialClass": "firefox",
    "initialTitle": "Mozilla Firefox", "pid": 4242, "xwayland": false, "pinned": false,
    "pinFullscreened": false, "fullscreen": 0, "fullscreenClient": 0, "fullscreenHandler": "default",
    "allowedOverFullscreen": false, "grouped": [], "tags": ["video"], "swallowing": "0x0", "focusHistoryID": 2,
    "inhibitingIdle": true, "xdgTag": "", "xdgDescription": "", "contentType": "video", "tearingHint": false,
    "stableId": "1a"
},{
    "address": "0x2", "mapped": true, "hidden": false, "visible": true, "at": [2570, 10], "size": [1060, 1900],
    "workspace": {"id": 2, "name": "2"}, "monitor": 1, "class": "mpv", "pid": 5151, "focusHistoryID": 1,
    "grouped": [], "fullscreen": 2, "fullscreenClient": 2, "stableId": "2b"
},{
    "address": "0x3", "mapped": true, "hidden": false, "visible": true, "at": [2700, 200], "size": [800, 600],
    "workspace": {"id": -98, "name": "special:magic"}, "class": "kitty", "pid": 6000, "focusHistoryID": 3
},{
    "address": "0x4", "mapped": true, "hidden": false, "visible": true, "at": [0, 0], "size": [500, 500],
    "workspace": {"id": 7, "name": "7"}, "class": "hidden-workspace", "pid": 7000, "focusHistoryID": 0
},{
    "address": "0x5", "mapped": true, "hidden": true, "visible": false, "at": [10, 40], "size": [100, 100],
    "workspace": {"id": 1, "name": "1"}, "class": "grouped-behind", "pid": 7001, "focusHistoryID": 4,
    "grouped": ["0x55d8c7e0a2b0", "0x5"]
},{
    "address": "0x6", "mapped": false, "hidden": false, "visible": false, "at": [10, 40], "size": [100, 100],
    "workspace": {"id": 1, "name": "1"}, "class": "unmapped", "pid": 7002, "focusHistoryID": 5
},{
    "address": "0x7", "mapped": true, "hidden": false, "visible": true, "at": [4650, 10], "size": [0, 700],
    "workspace": {"id": 3, "name": "3"}, "class": "no-size", "pid": -1, "focusHistoryID": 6
},{
    "address": "0x8", "mapped": true, "hidden": false, "visible": true, "at": [20, 20], "size": [300, 200],
    "workspace": {"id": -1, "name": ""}, "class": "no-workspace", "pid": 7003, "focusHistoryID": 7
}])";

TEST(HyprlandReplies, MonitorsBecomeScreensInLogicalCoordinates) {
  const auto monitors = parseMonitors(kMonitors);
  ASSERT_TRUE(monitors);
  ASSERT_EQ(monitors->size(), 3u);  // the disabled one is left out
  EXPECT_EQ((*monitors)[1].specialWorkspace, -98);

  ConnectorIds ids;
  const auto list = screens(*monitors, ids);
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].frame, (Rect{0, 0, 2560, 1440}));
  EXPECT_EQ(list[1].frame, (Rect{2560, 0, 1080, 1920}));
  EXPECT_EQ(list[2].frame, (Rect{4640, 0, 1280, 720}));
  EXPECT_EQ(list[0].localizedName, "DELL U2720Q (DP-1)");
  EXPECT_EQ(list[1].localizedName, "DELL U2720Q (DP-2)");
  EXPECT_EQ(list[2].localizedName, "HDMI-A-1");
  // Identical models are told apart by their serials, and a monitor that
  // tells nothing by its connector alone.
  EXPECT_EQ(list[1].identity.serial, "9QWE");
  EXPECT_EQ(list[2].identity, (DisplayIdentity{.connector = "HDMI-A-1"}));

  // Numbers follow the connector, whatever the order or company.
  const auto swapped = parseMonitors(R"([{"name": "HDMI-A-1", "model": "TV", "x": 0, "y": 0, "width": 1920,
      "height": 1080}, {"name": "DP-1", "model": "Only", "x": 1920, "y": 0, "width": 800, "height": 600}])");
  const auto again = screens(*swapped, ids);
  EXPECT_EQ(again[0].screenNumber, list[2].screenNumber);
  EXPECT_EQ(again[1].screenNumber, list[0].screenNumber);
  EXPECT_EQ(again[1].localizedName, "Only");
  EXPECT_EQ(again[0].frame, (Rect{0, 0, 1920, 1080}));  // no scale given: 1
}

TEST(HyprlandReplies, OnScreenWindowsFrontToBack) {
  const auto clients = parseClients(kClients);
  const auto monitors = parseMonitors(kMonitors);
  ASSERT_TRUE(clients && monitors);
  const auto windows = onScreenWindows(*clients, *monitors);

  // The open special workspace first, then by focus history; other
  // workspaces, hidden and unmapped windows are not on screen.
  std::vector<std::optional<std::int32_t>> pids;
  for (const auto& w : windows) {
    pids.push_back(toInt32(w.ownerPID));
    EXPECT_EQ(toBool(w.isOnscreen), true);
  }
  EXPECT_EQ(pids, (std::vector<std::optional<std::int32_t>>{6000, 5151, 4242, std::nullopt}));
  EXPECT_EQ(toRect(windows[2].bounds), (Rect{10, 40, 2540, 1390}));
  EXPECT_FALSE(windows[3].bounds);  // zero width

  const auto owners = windowOwners(*clients);
  EXPECT_EQ(owners.at(4242), "firefox");
  EXPECT_EQ(owners.at(7000), "hidden-workspace");
  EXPECT_FALSE(owners.contains(7002));
}

TEST(HyprlandReplies, HostileRepliesGiveNeutralValues) {
  for (const char* bad : {"", "ok", "unknown request", "{}", "[1, 2", "{\"a\": [}", "null"}) {
    EXPECT_FALSE(parseClients(bad)) << bad;
    EXPECT_FALSE(parseMonitors(bad)) << bad;
  }

  // Every field of the wrong type, missing or out of range.
  const auto clients = parseClients(R"([1, "x", null,
      {"pid": "4242", "at": [1, 2, 3], "size": [10, 10], "mapped": 1, "workspace": 1},
      {"pid": 1e300, "at": [1e300, 0], "size": [10, 10], "mapped": true, "workspace": {"id": "1"}},
      {"pid": 99999999999, "at": [-5, -5], "size": [-10, 10], "mapped": true, "hidden": "no",
       "workspace": {"id": 1.5}, "focusHistoryID": null, "class": 7},
      {"pid": 12.0, "at": [0.5, 0], "size": [10, 10], "mapped": true, "workspace": {"id": 1}},
      {"pid": 18446744073709551615, "at": [16777217, 0], "size": [10, 10]}])");
  ASSERT_TRUE(clients);
  ASSERT_EQ(clients->size(), 5u);
  // Only the fourth one's pid and workspace are whole numbers in range.
  for (std::size_t i = 0; i < clients->size(); ++i) {
    const auto& c = (*clients)[i];
    SCOPED_TRACE(i);
    EXPECT_FALSE(c.rect);
    EXPECT_FALSE(c.focusHistory);
    EXPECT_EQ(c.windowClass, "");
    EXPECT_FALSE(c.hidden);
    EXPECT_EQ(c.pid, i == 3 ? std::optional<Pid>(12) : std::nullopt);
    EXPECT_EQ(c.workspace, i == 3 ? std::optional<std::int64_t>(1) : std::nullopt);
  }
  EXPECT_FALSE((*clients)[0].mapped);

  const auto monitors = parseMonitors(R"([{"name": ""}, {"model": "no connector"}, {"name": 5},
      {"name": "A", "x": 0, "y": 0, "width": 1920, "height": 1080, "scale": 0, "transform": 9},
      {"name": "B", "x": 0, "y": 0, "width": 1920, "height": -1},
      {"name": "C", "x": "0", "y": 0, "width": 1920, "height": 1080, "disabled": "yes",
       "activeWorkspace": 3, "specialWorkspace": {"id": null}}])");
  ASSERT_TRUE(monitors);
  ASSERT_EQ(monitors->size(), 3u);
  EXPECT_EQ((*monitors)[0].frame, (Rect{0, 0, 1920, 1080}));  // a zero scale reads as 1
  EXPECT_FALSE((*monitors)[1].frame);
  EXPECT_FALSE((*monitors)[2].frame);
  EXPECT_FALSE((*monitors)[2].activeWorkspace);
  EXPECT_FALSE((*monitors)[2].specialWorkspace);
  ConnectorIds ids;
  EXPECT_EQ(screens(*monitors, ids).size(), 1u);
}

TEST(HyprlandEvents, LinesAndWhichOfThemMatter) {
  struct Case {
    std::string_view line;
    std::optional<std::string_view> name;
    std::string_view data;
    bool matters;
  };
  const Case cases[] = {
      {"activewindowv2>>55d8c7e0a2b0", "activewindowv2", "55d8c7e0a2b0", true},
      {"openwindow>>55d8c7e0a2b0,2,mpv,a >> b.mkv", "openwindow", "55d8c7e0a2b0,2,mpv,a >> b.mkv", true},
      {"movewindowv2>>55d8c7e0a2b0,3,3", "movewindowv2", "55d8c7e0a2b0,3,3", true},
      {"monitoraddedv2>>1,DP-2,Dell Inc. DELL U2720Q\r", "monitoraddedv2", "1,DP-2,Dell Inc. DELL U2720Q", true},
      {"monitorremoved>>DP-2", "monitorremoved", "DP-2", true},
      {"workspacev2>>3,3", "workspacev2", "3,3", true},
      {"focusedmonv2>>DP-2,2", "focusedmonv2", "DP-2,2", true},
      {"closewindow>>", "closewindow", "", true},
      {"windowtitlev2>>55d8c7e0a2b0,new title", "windowtitlev2", "55d8c7e0a2b0,new title", false},
      {"activelayout>>kbd,English (US)", "activelayout", "kbd,English (US)", false},
      {"", std::nullopt, "", false},
      {"no separator", std::nullopt, "", false},
      {">>data", std::nullopt, "", false},
      {"Open Window>>x", std::nullopt, "", false},
      {"\xff\xfe>>x", std::nullopt, "", false},
  };
  for (const auto& c : cases) {
    const auto event = parseEventLine(c.line);
    ASSERT_EQ(event.has_value(), c.name.has_value()) << c.line;
    if (!event) continue;
    EXPECT_EQ(event->name, *c.name);
    EXPECT_EQ(event->data, c.data);
    EXPECT_EQ(eventChangesDesktop(event->name), c.matters) << c.line;
  }
}

TEST(HyprlandEvents, LinesSplitAcrossReadsAndOverlongLines) {
  std::string buffer;
  bool skipping = false;
  EXPECT_TRUE(takeLines(buffer, skipping, "openwin", 16).empty());
  EXPECT_EQ(takeLines(buffer, skipping, "dow>>1\nclose", 16), (std::vector<std::string>{"openwindow>>1"}));
  EXPECT_EQ(takeLines(buffer, skipping, "window>>2\n\n", 16), (std::vector<std::string>{"closewindow>>2", ""}));
  // A line past the limit is dropped up to its newline, however it arrives.
  EXPECT_TRUE(takeLines(buffer, skipping, std::string(10, 'x'), 16).empty());
  EXPECT_TRUE(takeLines(buffer, skipping, std::string(10, 'y'), 16).empty());
  EXPECT_TRUE(takeLines(buffer, skipping, std::string(1000, 'z'), 16).empty());
  EXPECT_EQ(takeLines(buffer, skipping, "zz\nworkspace>>1\n", 16), (std::vector<std::string>{"workspace>>1"}));
  EXPECT_TRUE(buffer.empty());
}

TEST(HyprlandSockets, FoundUnderTheRuntimeFolderElseTmp) {
  auto none = [](const std::string&) { return false; };
  auto onlyTmp = [](const std::string& dir) { return dir.starts_with("/tmp/"); };

  auto location = locateSockets("abc_123", "/run/user/1000", none);
  ASSERT_TRUE(location.paths);
  EXPECT_EQ(location.paths->request, "/run/user/1000/hypr/abc_123/.socket.sock");
  EXPECT_EQ(location.paths->events, "/run/user/1000/hypr/abc_123/.socket2.sock");
  EXPECT_EQ(locateSockets("abc_123", "/run/user/1000", onlyTmp).paths->events, "/tmp/hypr/abc_123/.socket2.sock");
  EXPECT_EQ(locateSockets("abc_123", std::nullopt, none).paths->request, "/tmp/hypr/abc_123/.socket.sock");
  EXPECT_EQ(locateSockets("abc_123", "relative", none).paths->request, "/tmp/hypr/abc_123/.socket.sock");

  for (const std::optional<std::string>& bad :
       {std::optional<std::string>(), std::optional<std::string>(""), std::optional<std::string>("../x"),
        std::optional<std::string>(".."), std::optional<std::string>(std::string(300, 'a'))}) {
    const auto result = locateSockets(bad, "/run/user/1000", none);
    EXPECT_FALSE(result.paths);
    EXPECT_FALSE(result.problem.empty());
  }
}

}  // namespace
}  // namespace velmora::linuxos::hyprland
