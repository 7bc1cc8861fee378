#include "platform/linux/kde/KWinWindowList.h"

#include <gtest/gtest.h>

#include "platform/linux/kde/KWinScript.h"

namespace velmora::linuxos {
namespace {

TEST(KWinReportTest, ParsesGoodReportsAndRejectsBadOnes) {
  const auto good = parseKWinReport(R"({"api":6,"windows":[[42,10,20.5,640,480,true],[0,0,0,5,5,false]]})");
  ASSERT_TRUE(good);
  EXPECT_EQ(good->api, 6);
  ASSERT_EQ(good->windows.size(), 2u);
  EXPECT_EQ(toInt32(good->windows[0].ownerPID), 42);
  EXPECT_EQ(toRect(good->windows[0].bounds), (Rect{10, 20.5, 640, 480}));
  EXPECT_EQ(toBool(good->windows[0].isOnscreen), true);
  EXPECT_FALSE(good->windows[1].ownerPID) << "KWin's own windows (pid 0) have no owner";
  EXPECT_EQ(toBool(good->windows[1].isOnscreen), false);
  EXPECT_TRUE(parseKWinReport(R"({"api":5,"windows":[]})"));

  const std::string tooMany = [] {
    std::string text = R"({"api":5,"windows":[)";
    for (std::size_t i = 0; i <= kMaxKWinReportWindows; ++i)
      text += std::string(i ? "," : "") + "[1,0,0,1,1,true]";
    return text + "]}";
  }();
  const std::vector<std::string> bad = {
      "",
      "not json",
      "[]",
      R"({"windows":[]})",
      R"({"api":7,"windows":[]})",
      R"({"api":"6","windows":[]})",
      R"({"api":6})",
      R"({"api":6,"windows":{}})",
      R"({"api":6,"windows":[[1,0,0,1,1]]})",
      R"({"api":6,"windows":[[1,0,0,1,1,true,7]]})",
      R"({"api":6,"windows":[[-1,0,0,1,1,true]]})",
      R"({"api":6,"windows":[[1.5,0,0,1,1,true]]})",
      R"({"api":6,"windows":[[4294967296,0,0,1,1,true]]})",
      R"({"api":6,"windows":[["1",0,0,1,1,true]]})",
      R"({"api":6,"windows":[[1,0,0,-1,1,true]]})",
      R"({"api":6,"windows":[[1,1e300,0,1,1,true]]})",
      R"({"api":6,"windows":[[1,0,0,1,1,1]]})",
      R"({"api":6,"windows":[[1,0,0,1,1,true],"x"]})",
      tooMany,
      std::string(kMaxKWinReportBytes + 1, ' '),
  };
  for (const std::string& text : bad) {
    std::string error;
    EXPECT_FALSE(parseKWinReport(text, &error)) << text.substr(0, 80);
    EXPECT_FALSE(error.empty()) << text.substr(0, 80);
  }
}

TEST(KWinReportsTest, AcceptsOnlyKWinsCurrentNameAndKeepsTheLastGoodSnapshot) {
  KWinWindowList list;
  const std::string good = R"({"api":5,"windows":[[7,0,0,100,100,true],[8,100,0,50,50,false],[7,5,5,1,1,false]]})";
  EXPECT_EQ(list.receive(":1.5", good).outcome, KWinWindowList::Outcome::foreignSender) << "no KWin known yet";
  EXPECT_FALSE(list.windows());

  list.setKWinOwner(":1.5");
  const auto forged = list.receive(":1.9", good);
  EXPECT_EQ(forged.outcome, KWinWindowList::Outcome::foreignSender);
  EXPECT_FALSE(list.receive("", good).firstOfItsKind) << "the second forgery is not logged again";
  EXPECT_FALSE(list.windows());

  EXPECT_EQ(list.receive(":1.5", good).outcome, KWinWindowList::Outcome::accepted);
  ASSERT_TRUE(list.windows());
  EXPECT_EQ(list.windows()->size(), 3u);
  EXPECT_EQ(list.api(), 5);
  ASSERT_TRUE(list.windowsOf(7));
  EXPECT_EQ(list.windowsOf(7)->size(), 2u);
  EXPECT_TRUE(list.windowsOf(99)->empty());
  EXPECT_EQ(list.owners(), (WindowOwners{{7, ""}, {8, ""}}));

  const auto first = list.receive(":1.5", "{");
  EXPECT_EQ(first.outcome, KWinWindowList::Outcome::malformed);
  EXPECT_TRUE(first.firstOfItsKind);
  EXPECT_FALSE(list.receive(":1.5", "[]").firstOfItsKind);
  EXPECT_EQ(list.windows()->size(), 3u) << "a bad report leaves the last good one";

  // A restarted KWin: its predecessor's windows are gone, and so is its name.
  list.setKWinOwner(":1.20");
  EXPECT_FALSE(list.windows());
  EXPECT_FALSE(list.api());
  EXPECT_EQ(list.receive(":1.5", good).outcome, KWinWindowList::Outcome::foreignSender);
  EXPECT_EQ(list.receive(":1.20", R"({"api":6,"windows":[]})").outcome, KWinWindowList::Outcome::accepted);
  EXPECT_EQ(list.api(), 6);
  list.setKWinOwner(std::nullopt);
  EXPECT_FALSE(list.hasReport());
  EXPECT_EQ(list.receive(":1.20", good).outcome, KWinWindowList::Outcome::foreignSender);
}

TEST(KWinScriptTest, AddressesTheScriptToUniqueNamesOnly) {
  const std::string templ = "const a = \"@VELMORA_BUS_NAME@\"; // @VELMORA_BUS_NAME@";
  EXPECT_EQ(kwinScriptFor(":1.42", templ), "const a = \":1.42\"; // :1.42");
  for (const char* name :
       {"", ":", ":1", ":1.", ":.1", "1.42", ":1.4a", "org.kde.KWin", ":1.2\"; evil(); \"", ":1.2\n"}) {
    EXPECT_FALSE(kwinScriptFor(name, templ)) << name;
  }
  EXPECT_FALSE(kwinScriptFor(":1.42", "no placeholder"));

  // The script built into the program is the one in kwin/, addressed by us.
  const auto shipped = kwinScriptFor(":1.7");
  ASSERT_TRUE(shipped);
  EXPECT_NE(shipped->find("\":1.7\""), std::string::npos);
  EXPECT_NE(shipped->find(kKWinReportsPath), std::string::npos);
  EXPECT_NE(shipped->find(kKWinReportsInterface), std::string::npos);
  EXPECT_EQ(shipped->find("@VELMORA_BUS_NAME@"), std::string::npos);
}

}  // namespace
}  // namespace velmora::linuxos
