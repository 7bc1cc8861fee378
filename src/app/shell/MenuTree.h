#pragma once

// A menu as plain data: a tree of items, each with an id that stays the same
// from one drawing to the next, so the tray menu, the menu offered on the
// session bus and whoever activates an item all speak of the same item.
// Whoever shows the tree gets only the differences from the last drawing.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::app {

enum class MenuItemType { action, separator, submenu };

struct MenuItemState {
  // Unique in the tree; plain ASCII, since it travels on the session bus.
  std::string id;
  MenuItemType type = MenuItemType::action;
  std::string title;
  bool enabled = true;
  bool checkable = false;
  bool checked = false;
  bool visible = true;
  // Shown in place of the item before it while Alt is held, and hidden
  // otherwise.
  bool alternate = false;
  // A submenu's entries.
  std::vector<MenuItemState> children;

  friend bool operator==(const MenuItemState&, const MenuItemState&) = default;
};

using MenuItems = std::vector<MenuItemState>;

// The item with this id anywhere in the tree; null when there is none.
const MenuItemState* findMenuItem(const MenuItems& items, std::string_view id);

// The items as a menu shows them with Alt held or not: each alternate and
// the item it stands in for are visible by turns.
MenuItems presentedItems(MenuItems items, bool altHeld);

// Receives the changes of a drawing; the Qt menu implements it.
class MenuTarget {
 public:
  virtual ~MenuTarget() = default;
  // The tree's shape changed (items, their order, kinds, checkability):
  // everything is made anew from items.
  virtual void rebuild(const MenuItems& items) = 0;
  virtual void setTitle(const std::string& id, const std::string& title) = 0;
  virtual void setEnabled(const std::string& id, bool enabled) = 0;
  virtual void setChecked(const std::string& id, bool checked) = 0;
  virtual void setVisible(const std::string& id, bool visible) = 0;
};

// Sends target what differs between shown and next (a rebuild when nothing
// is shown yet or the shape changed) and returns how many calls it made.
std::size_t applyMenuChanges(const std::optional<MenuItems>& shown, const MenuItems& next, MenuTarget& target);

}  // namespace velmora::app
