#include "app/shell/StatusMenuModel.h"

#include <gtest/gtest.h>

#include <vector>

#include "MenuSamples.h"

namespace velmora::app {
namespace {

// Applies changes to a plain copy of the menu, as the real menu would.
class FakeMenu final : public MenuTarget {
 public:
  void rebuild(const MenuItems& items) override { shown = items, ++rebuilds; }
  void setTitle(const std::string& id, const std::string& t) override { find(id).title = t; }
  void setEnabled(const std::string& id, bool e) override { find(id).enabled = e; }
  void setChecked(const std::string& id, bool c) override { find(id).checked = c; }
  void setVisible(const std::string& id, bool v) override { find(id).visible = v; }

  MenuItemState& find(const std::string& id) {
    ++calls;
    return const_cast<MenuItemState&>(*findMenuItem(shown, id));
  }

  MenuItems shown;
  int calls = 0;
  int rebuilds = 0;
};

std::vector<std::string> visibleTitles(const MenuItems& items) {
  std::vector<std::string> titles;
  for (const auto& item : items) {
    if (item.visible) titles.push_back(item.type == MenuItemType::separator ? "---" : item.title);
  }
  return titles;
}

TEST(StatusMenuModel, ItemsInOrderAltSwapsTheAlternate) {
  StatusMenuInputs inputs;
  inputs.lastMessage = "Starting\u2026";
  const StatusMenuModel model = statusMenuModel(inputs);

  std::vector<std::string> titles = {
      "Starting\u2026",     "---", "About Velmora", "Check for Updates\u2026", "Launch at login",
      "Send crash reports", "---", "Quit Velmora"};
  EXPECT_EQ(visibleTitles(presentedItems(model.items, false)), titles);
  titles[2] = "Show diagnostics\u2026";
  EXPECT_EQ(visibleTitles(presentedItems(model.items, true)), titles);
  // The states of each item are checked where they leave on the bus.
  EXPECT_FALSE(findMenuItem(model.items, menu_id::kStatus)->enabled);
  EXPECT_EQ(model.accessibleDescription, "Velmora \u2014 Starting\u2026");
  EXPECT_EQ(model.iconName, "MenuBarIcon-idle");

  // A long status is shown whole.
  inputs.lastMessage = std::string(300, 'x') + " \u2192 Studio TV";
  EXPECT_EQ(findMenuItem(statusMenuModel(inputs).items, menu_id::kStatus)->title, inputs.lastMessage);
}

TEST(StatusMenuModel, ASpeakersMenuPerDisplayWithTheSpeakersInForceChecked) {
  StatusMenuInputs inputs;
  inputs.speakers.displays = {{1, "Desk", {}, SpeakerPairing{41, PairingBasis::eldName}, 41},
                              {2, "JVC", {}, SpeakerPairing{43, PairingBasis::userChoice}, std::nullopt},
                              {3, "Attic", {}, std::nullopt, std::nullopt}};
  inputs.speakers.devices = {{41, "Desk Speakers", "hdmi-0"}, {42, "Bluetooth", std::nullopt}, {43, "Soundbar", "usb"}};
  const MenuItems items = statusMenuModel(inputs).items;
  EXPECT_EQ(visibleTitles(items)[2], "Speakers for Desk");
  struct Entry {
    SpeakerPick pick;
    const char* title;
    bool checked;
    bool enabled = true;
  };
  const Entry entries[] = {
      {{1, std::nullopt}, "Automatic (by name) \u2192 Desk Speakers", true},
      {{1, 41}, "Desk Speakers", false},
      {{1, 42}, "Bluetooth", false, false},  // no stable name to keep
      {{2, std::nullopt}, "Automatic (by name)", false},
      {{2, 43}, "Soundbar", true},
      {{3, std::nullopt}, "Automatic (by name)", true},
  };
  for (const Entry& e : entries) {
    SCOPED_TRACE(speakerPickId(e.pick));
    const MenuItemState* item = findMenuItem(items, speakerPickId(e.pick));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->title, e.title);
    EXPECT_TRUE(item->checkable);
    EXPECT_EQ(item->checked, e.checked);
    EXPECT_EQ(item->enabled, e.enabled);
    EXPECT_EQ(speakerPickFromId(speakerPickId(e.pick)), e.pick);
  }
  for (const char* id : {"speakers.1", "speakers.x.auto", "speakers.1.", "speakers.1.-4", "speakers.4294967296.1",
                         "speakers.1.2.3", "quit"}) {
    EXPECT_EQ(speakerPickFromId(id), std::nullopt) << id;
  }
  EXPECT_EQ(findMenuItem(statusMenuModel({}).items, "speakers.1"), nullptr) << "no displays, no speakers menus";
}

TEST(ApplyMenuChanges, SendsOnlyDifferencesAndRebuildsWhenTheShapeChanges) {
  FakeMenu menu;
  std::optional<MenuItems> shown;
  auto show = [&](const MenuItems& next) {
    menu.calls = 0;
    menu.rebuilds = 0;
    const std::size_t sent = applyMenuChanges(shown, next, menu);
    EXPECT_EQ(sent, static_cast<std::size_t>(menu.calls + menu.rebuilds));
    shown = next;
    EXPECT_EQ(menu.shown, next);
    return sent;
  };
  StatusMenuInputs inputs;
  auto items = [&](bool alt = false) { return presentedItems(statusMenuModel(inputs).items, alt); };

  inputs.lastMessage = "Starting\u2026";
  EXPECT_EQ(show(items()), 1u);
  EXPECT_EQ(menu.rebuilds, 1) << "the first drawing makes the menu";

  inputs.lastMessage = "Tracking Firefox";
  EXPECT_EQ(show(items()), 1u);
  EXPECT_EQ(show(items()), 0u) << "a repeated report changes nothing";

  inputs.launchAtLoginEnabled = true;
  EXPECT_EQ(show(items()), 1u);
  EXPECT_EQ(show(items(true)), 2u);
  inputs.canCheckForUpdates = true;
  inputs.crashReportingEnabled = true;
  inputs.lastMessage = "\u2192 Studio TV";
  EXPECT_EQ(show(items()), 5u);
  EXPECT_EQ(menu.rebuilds, 0);

  // A submenu that appears, then changes inside.
  MenuItems withSubmenu = items();
  withSubmenu.insert(withSubmenu.begin() + 2, test::speakersSubmenu());
  EXPECT_EQ(show(withSubmenu), 1u);
  EXPECT_EQ(menu.rebuilds, 1);
  withSubmenu[2].children[0].checked = false;
  EXPECT_EQ(show(withSubmenu), 1u);
  EXPECT_EQ(menu.rebuilds, 0);
  MenuItemState other = withSubmenu[2].children[0];
  other.id = "speakers/other";
  withSubmenu[2].children.push_back(other);
  EXPECT_EQ(show(withSubmenu), 1u);
  EXPECT_EQ(menu.rebuilds, 1);
}

}  // namespace
}  // namespace velmora::app
