#include "app/shell/MenuTree.h"

namespace velmora::app {

namespace {

bool sameShape(const MenuItems& a, const MenuItems& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const MenuItemState& x = a[i];
    const MenuItemState& y = b[i];
    if (x.id != y.id || x.type != y.type || x.checkable != y.checkable || x.alternate != y.alternate) return false;
    if (!sameShape(x.children, y.children)) return false;
  }
  return true;
}

std::size_t sendDifferences(const MenuItems& shown, const MenuItems& next, MenuTarget& target) {
  std::size_t changes = 0;
  for (std::size_t i = 0; i < next.size(); ++i) {
    const MenuItemState& from = shown[i];
    const MenuItemState& to = next[i];
    if (from.title != to.title) target.setTitle(to.id, to.title), ++changes;
    if (from.enabled != to.enabled) target.setEnabled(to.id, to.enabled), ++changes;
    if (to.checkable && from.checked != to.checked) target.setChecked(to.id, to.checked), ++changes;
    if (from.visible != to.visible) target.setVisible(to.id, to.visible), ++changes;
    changes += sendDifferences(from.children, to.children, target);
  }
  return changes;
}

}  // namespace

const MenuItemState* findMenuItem(const MenuItems& items, std::string_view id) {
  for (const MenuItemState& item : items) {
    if (item.id == id) return &item;
    if (const MenuItemState* found = findMenuItem(item.children, id)) return found;
  }
  return nullptr;
}

MenuItems presentedItems(MenuItems items, bool altHeld) {
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].alternate) {
      items[i].visible = items[i].visible && altHeld;
      if (i > 0) items[i - 1].visible = items[i - 1].visible && !altHeld;
    }
    items[i].children = presentedItems(std::move(items[i].children), altHeld);
  }
  return items;
}

std::size_t applyMenuChanges(const std::optional<MenuItems>& shown, const MenuItems& next, MenuTarget& target) {
  if (!shown || !sameShape(*shown, next)) {
    target.rebuild(next);
    return 1;
  }
  return sendDifferences(*shown, next, target);
}

}  // namespace velmora::app
