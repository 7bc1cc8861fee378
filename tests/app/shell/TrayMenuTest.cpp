#include "app/shell/TrayMenu.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QMenu>
#include <string>
#include <vector>

#include "MenuSamples.h"
#include "QtTestApp.h"
#include "app/shell/StatusMenuModel.h"

namespace velmora::app {
namespace {

TEST(TrayMenu, ASubmenuIsDrawnKeptAndChosenFromLikeTheTopLevel) {
  test::qtApp();
  std::vector<std::string> chosen;
  TrayMenu tray({[&](const std::string& id) { chosen.push_back(id); }, nullptr});
  MenuItems items = statusMenuModel({}).items;
  items.insert(items.begin() + 2, test::speakersSubmenu());
  tray.show(items, "Velmora");

  QAction* speakers = tray.action("speakers");
  ASSERT_NE(speakers, nullptr);
  ASSERT_NE(speakers->menu(), nullptr);
  QAction* tv = tray.action("speakers/tv");
  ASSERT_EQ(speakers->menu()->actions(), QList<QAction*>{tv});
  EXPECT_EQ(speakers->text(), "Speakers for Studio TV");
  EXPECT_TRUE(tv->isChecked());

  items[2].children[0].checked = false;
  tray.show(items, "Velmora");
  EXPECT_EQ(tray.action("speakers/tv"), tv) << "a change inside keeps the submenu";
  EXPECT_FALSE(tv->isChecked());
  tv->trigger();
  EXPECT_EQ(chosen, std::vector<std::string>{"speakers/tv"});

  items.erase(items.begin() + 2);
  tray.show(items, "Velmora");
  EXPECT_EQ(tray.action("speakers/tv"), nullptr);
  EXPECT_EQ(tray.menu()->actions().size(), 9);
}

}  // namespace
}  // namespace velmora::app
