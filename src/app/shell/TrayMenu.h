#pragma once

// The status menu of the tray icon: a QMenu drawn from the menu tree, which
// receives only what changed since the last drawing (each change is a round
// trip to the tray host). Triggered items are reported by id. While the menu
// is open, Alt swaps each item for its alternate, and Ctrl+Q quits.

#include <QObject>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/shell/MenuTree.h"

class QAction;
class QEvent;
class QMenu;

namespace velmora::app {

class TrayMenu final : public QObject, private MenuTarget {
  Q_OBJECT

 public:
  struct Handlers {
    std::function<void(const std::string& id)> activate;
    // The menu is about to open: a chance to bring the items up to date.
    std::function<void()> aboutToShow;
  };

  explicit TrayMenu(Handlers handlers, QObject* parent = nullptr);
  ~TrayMenu() override;

  QMenu* menu() const { return menu_.get(); }
  // The action that shows the item with this id; null when there is none.
  QAction* action(const std::string& id) const;

  void show(const MenuItems& items, const std::string& accessibleDescription);
  void setAltHeld(bool held);

  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void redraw();
  void rebuild(const MenuItems& items) override;
  void addItems(QMenu* into, const MenuItems& items);
  void setTitle(const std::string& id, const std::string& title) override;
  void setEnabled(const std::string& id, bool enabled) override;
  void setChecked(const std::string& id, bool checked) override;
  void setVisible(const std::string& id, bool visible) override;

  Handlers handlers_;
  std::unique_ptr<QMenu> menu_;
  std::map<std::string, QAction*> actions_;
  std::vector<QPointer<QMenu>> submenus_;
  MenuItems items_;
  std::optional<MenuItems> shown_;
  bool altHeld_ = false;
};

}  // namespace velmora::app
