#include "app/shell/StatusMenuModel.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora::app {
namespace {

// Applies changes to a plain copy of the menu, as the real menu would.
class FakeMenu final : public MenuTarget {
 public:
  FakeMenu() { shown = statusMenuModel({}); }
  void setTitle(std::size_t i, const std::string& t) override { shown.items[i].title = t, ++calls; }
  void setEnabled(std::size_t i, bool e) override { shown.items[i].enabled = e, ++calls; }
  void setChecked(std::size_t i, bool c) override { shown.items[i].checked = c, ++calls; }
  void setVisible(std::size_t i, bool v) override { shown.items[i].visible = v, ++calls; }

  StatusMenuModel shown;
  int calls = 0;
};

std::vector<std::string> visibleTitles(const StatusMenuModel& model) {
  std::vector<std::string> titles;
  for (const auto& item : model.items) {
    if (item.visible) titles.push_back(item.separator ? "---" : item.title);
  }
  return titles;
}

TEST(StatusMenuModel, ItemsInOrderWithTheirStates) {
  StatusMenuInputs inputs;
  inputs.lastMessage = "Starting\u2026";
  const StatusMenuModel model = statusMenuModel(inputs);

  EXPECT_EQ(visibleTitles(model),
            (std::vector<std::string>{"Starting\u2026", "---", "About Velmora", "Check for Updates\u2026",
                                      "Launch at login", "Send crash reports", "---", "Quit Velmora"}));
  EXPECT_FALSE(model.items[kStatusLine].enabled);
  EXPECT_FALSE(model.items[kCheckForUpdates].enabled);
  EXPECT_FALSE(model.items[kLaunchAtLogin].checked);
  EXPECT_FALSE(model.items[kSendCrashReports].checked);
  EXPECT_TRUE(model.items[kAbout].enabled);
  EXPECT_TRUE(model.items[kQuit].enabled);

  // A long status is shown whole.
  inputs.lastMessage = std::string(300, 'x') + " \u2192 Studio TV";
  EXPECT_EQ(statusMenuModel(inputs).items[kStatusLine].title, inputs.lastMessage);
}

TEST(ApplyMenuChanges, SendsOnlyDifferencesAndEndsAsAFullRebuildWould) {
  FakeMenu menu;
  std::optional<StatusMenuModel> shown;
  auto show = [&](const StatusMenuInputs& inputs) {
    const StatusMenuModel next = statusMenuModel(inputs);
    menu.calls = 0;
    const std::size_t sent = applyMenuChanges(shown, next, menu);
    EXPECT_EQ(sent, static_cast<std::size_t>(menu.calls));
    shown = next;
    EXPECT_EQ(menu.shown, next);
    return sent;
  };

  StatusMenuInputs inputs;
  inputs.lastMessage = "Starting\u2026";
  EXPECT_GT(show(inputs), 9u) << "the first drawing sets every item";

  inputs.lastMessage = "Tracking Firefox";
  EXPECT_EQ(show(inputs), 1u);
  EXPECT_EQ(show(inputs), 0u) << "a repeated report changes nothing";

  inputs.launchAtLoginEnabled = true;
  EXPECT_EQ(show(inputs), 1u);
  inputs.altHeld = true;
  EXPECT_EQ(show(inputs), 2u);
  inputs.altHeld = false;
  inputs.canCheckForUpdates = true;
  inputs.crashReportingEnabled = true;
  inputs.lastMessage = "\u2192 Studio TV";
  EXPECT_EQ(show(inputs), 5u);
}

}  // namespace
}  // namespace velmora::app
