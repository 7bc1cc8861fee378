#include "platform/linux/x11/WindowRules.h"

#include <gtest/gtest.h>

#include <cstring>

#include "platform/linux/common/DisplayText.h"
#include "platform/linux/x11/ScreenRules.h"

namespace velmora::linuxos {
namespace {

constexpr std::uint32_t kHidden = 300;
constexpr std::uint32_t kAbove = 301;

PropertyReply cardinals(std::vector<std::uint32_t> values, std::uint32_t type = kAtomCardinal,
                        std::uint8_t format = 32) {
  PropertyReply p{type, format, std::vector<std::uint8_t>(values.size() * 4)};
  if (!values.empty()) std::memcpy(p.data.data(), values.data(), p.data.size());
  return p;
}

WindowReplies window(std::int32_t x, std::int32_t y, std::uint32_t w, std::uint32_t h) {
  WindowReplies r;
  r.window = 0x400001;
  r.viewable = true;
  r.width = w;
  r.height = h;
  r.rootX = x;
  r.rootY = y;
  return r;
}

TEST(WindowRules, PropertiesOfTheWrongShapeAreIgnored) {
  EXPECT_EQ(items32(cardinals({7, 8}), kAtomCardinal), (std::vector<std::uint32_t>{7, 8}));
  EXPECT_FALSE(items32(std::nullopt, kAtomCardinal));
  EXPECT_FALSE(items32(cardinals({7}), kAtomAtom));                        // wrong type
  EXPECT_FALSE(items32(cardinals({7}, kAtomCardinal, 8), kAtomCardinal));  // wrong format
  PropertyReply ragged = cardinals({7});
  ragged.data.pop_back();
  EXPECT_FALSE(items32(ragged, kAtomCardinal));

  WindowReplies w = window(0, 0, 100, 100);
  w.netWmPid = cardinals({}, kAtomCardinal);  // present but empty
  w.clientPid = 77;
  EXPECT_EQ(windowOwnerPid(w), 77u);
  w.netWmPid = cardinals({1234}, kAtomString);  // a string "pid" is no pid
  EXPECT_EQ(windowOwnerPid(w), 77u);
  w.netWmPid = cardinals({1234});
  EXPECT_EQ(windowOwnerPid(w), 1234u);
  // A sandboxed client wrote its pid inside the sandbox; the desktop knows it as 77.
  w.netWmPid = cardinals({2});
  w.clientPidInsideSandbox = 2;
  EXPECT_EQ(windowOwnerPid(w), 77u);
  w.clientPidInsideSandbox = 5;  // another process's window: its claim stands
  EXPECT_EQ(windowOwnerPid(w), 2u);
  w.clientPidInsideSandbox.reset();
  w.netWmPid.reset();
  w.clientPid.reset();
  EXPECT_FALSE(windowOwnerPid(w));

  // A pid beyond the signed range is passed on as it is and rejected by the reader.
  w.netWmPid = cardinals({0xFFFFFFF0});
  const auto entry = windowEntry(w, {});
  ASSERT_TRUE(entry);
  EXPECT_FALSE(toInt32(entry->ownerPID));
}

TEST(WindowRules, OnScreenNeedsViewableNotHiddenAndTheCurrentDesktop) {
  const DesktopState desktop{2, kHidden};
  WindowReplies w = window(0, 0, 100, 100);
  EXPECT_TRUE(windowIsOnscreen(w, desktop));  // no desktop property: shown

  w.netWmDesktop = cardinals({2});
  EXPECT_TRUE(windowIsOnscreen(w, desktop));
  w.netWmDesktop = cardinals({1});
  EXPECT_FALSE(windowIsOnscreen(w, desktop));
  EXPECT_TRUE(windowIsOnscreen(w, DesktopState{std::nullopt, kHidden}));  // no EWMH desktops at all
  w.netWmDesktop = cardinals({kAllDesktops});
  EXPECT_TRUE(windowIsOnscreen(w, desktop));

  w.netWmState = cardinals({kAbove}, kAtomAtom);
  EXPECT_TRUE(windowIsOnscreen(w, desktop));
  w.netWmState = cardinals({kAbove, kHidden}, kAtomAtom);
  EXPECT_FALSE(windowIsOnscreen(w, desktop));
  w.netWmState = cardinals({kHidden}, kAtomCardinal);  // not an atom list: ignored
  EXPECT_TRUE(windowIsOnscreen(w, desktop));

  w.viewable = false;
  EXPECT_FALSE(windowIsOnscreen(w, desktop));
  const auto entry = windowEntry(w, desktop);
  ASSERT_TRUE(entry);  // listed, but flagged off-screen
  EXPECT_EQ(toBool(entry->isOnscreen), false);
}

TEST(WindowRules, BoundsAreTheClientAreaLessClientSideShadows) {
  WindowReplies w = window(-200, 40, 800, 600);
  EXPECT_EQ(windowBounds(w), (Rect{-200, 40, 800, 600}));

  w.gtkFrameExtents = cardinals({10, 20, 5, 25});  // left, right, top, bottom
  EXPECT_EQ(windowBounds(w), (Rect{-190, 45, 770, 570}));

  // Short, leaving nothing, or absurd: ignored.
  for (const auto& extents : {std::vector<std::uint32_t>{10, 20, 5}, {400, 400, 0, 0}, {0xFFFFFFFF, 0, 0, 0}}) {
    w.gtkFrameExtents = cardinals(extents);
    EXPECT_EQ(windowBounds(w), (Rect{-200, 40, 800, 600})) << extents[0];
  }
}

TEST(WindowRules, VanishedWindowsAreSkipped) {
  WindowReplies gone;
  gone.window = 0x400002;
  EXPECT_FALSE(windowEntry(gone, {}));

  WindowReplies half = window(0, 0, 10, 10);
  half.rootX.reset();  // destroyed between the attribute and translate replies
  EXPECT_FALSE(windowEntry(half, {}));

  WindowReplies fine = window(5, 6, 70, 80);
  fine.netWmPid = cardinals({42});
  const auto entry = windowEntry(fine, DesktopState{0, kHidden});
  ASSERT_TRUE(entry);
  EXPECT_EQ(toInt32(entry->ownerPID), 42);
  EXPECT_EQ(toBool(entry->isOnscreen), true);
  EXPECT_EQ(toRect(entry->bounds), (Rect{5, 6, 70, 80}));
  // The server lists windows bottom first.
  EXPECT_EQ(topFirst({1, 2, 3}), (std::vector<std::uint32_t>{3, 2, 1}));
}

TEST(WindowRules, WindowClassIsTheSecondWmClassString) {
  auto wmClass = [](std::string text, std::uint32_t type = kAtomString) {
    return PropertyReply{type, 8, std::vector<std::uint8_t>(text.begin(), text.end())};
  };
  EXPECT_EQ(windowClassName(wmClass(std::string("navigator\0Firefox\0", 18))), "Firefox");
  EXPECT_EQ(windowClassName(wmClass(std::string("onlyinstance", 12))), "onlyinstance");
  EXPECT_EQ(windowClassName(wmClass(std::string("inst\0", 5))), "inst");
  EXPECT_FALSE(windowClassName(wmClass(std::string("a\0\xFF\xFE\0", 5))));  // not UTF-8
  EXPECT_FALSE(windowClassName(wmClass("x\0Firefox", kAtomCardinal)));
  EXPECT_FALSE(windowClassName(wmClass(std::string(1000, 'a'))));
  EXPECT_FALSE(windowClassName(std::nullopt));
}

TEST(ScreenRules, NumberFrameAndName) {
  MonitorReplies m;
  m.nameAtom = 500;
  m.name = "HDMI-1";
  m.x = -1920;
  m.y = 0;
  m.width = 1920;
  m.height = 1080;
  m.outputs = {66, 67};

  PlatformScreen s = screenFromMonitor(m);
  EXPECT_EQ(toUInt32(s.screenNumber), 66u);
  EXPECT_EQ(s.frame, (Rect{-1920, 0, 1920, 1080}));
  EXPECT_EQ(s.localizedName, "HDMI-1");

  m.firstOutputEdid = std::vector<std::uint8_t>(128, 0xFF);  // not an EDID: the monitor's name stays
  EXPECT_EQ(screenFromMonitor(m).localizedName, "HDMI-1");
  // The port is the first output's name, else the monitor's own.
  EXPECT_EQ(screenFromMonitor(m).identity, (DisplayIdentity{.connector = "HDMI-1"}));
  m.firstOutputName = "DP-2";
  EXPECT_EQ(screenFromMonitor(m).identity, (DisplayIdentity{.connector = "DP-2"}));
  m.firstOutputName.reset();

  m.outputs.clear();
  m.name = std::string("bad\xC0\x80", 5);  // overlong encoding
  s = screenFromMonitor(m);
  EXPECT_EQ(toUInt32(s.screenNumber), 500u);
  EXPECT_EQ(s.localizedName, "");

  EXPECT_EQ(displayableText("Büro Monitor"), "Büro Monitor");
  EXPECT_FALSE(displayableText(std::string("\xE2\x82", 2)));      // truncated sequence
  EXPECT_FALSE(displayableText(std::string("\xED\xA0\x80", 3)));  // surrogate
  EXPECT_FALSE(displayableText("tab\there"));
}

}  // namespace
}  // namespace velmora::linuxos
