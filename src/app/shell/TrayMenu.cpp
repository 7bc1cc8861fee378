#include "app/shell/TrayMenu.h"

#include <QAction>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>

#include "app/shell/MenuText.h"
#include "app/shell/StatusMenuModel.h"

namespace velmora::app {

namespace {

// A literal '&' would become a mnemonic marker and vanish; a tab would split
// off as shortcut text (menuLineText makes it a space).
QString actionText(const std::string& title) {
  return menuLineText(title).replace(QLatin1Char('&'), QLatin1String("&&"));
}

const QKeySequence kQuitShortcut(Qt::CTRL | Qt::Key_Q);

}  // namespace

TrayMenu::TrayMenu(Handlers handlers, QObject* parent)
    : QObject(parent), handlers_(std::move(handlers)), menu_(std::make_unique<QMenu>()) {
  connect(menu_.get(), &QMenu::aboutToShow, this, [this] {
    altHeld_ = QGuiApplication::queryKeyboardModifiers().testFlag(Qt::AltModifier);
    if (handlers_.aboutToShow) handlers_.aboutToShow();
    redraw();
  });
  // A closed menu shows the plain items, so a host that draws the menu before
  // asking for an update never opens it with an alternate left over.
  connect(menu_.get(), &QMenu::aboutToHide, this, [this] { setAltHeld(false); });
  menu_->installEventFilter(this);
}

TrayMenu::~TrayMenu() = default;

QAction* TrayMenu::action(const std::string& id) const {
  const auto found = actions_.find(id);
  return found == actions_.end() ? nullptr : found->second;
}

void TrayMenu::show(const MenuItems& items, const std::string& accessibleDescription) {
  items_ = items;
  redraw();
  // The tray icon has no accessible text of its own in Qt; the menu carries
  // it, also as its window title, where assistive tools and tests find it.
  const QString description = QString::fromStdString(accessibleDescription);
  if (menu_->accessibleDescription() != description) {
    menu_->setAccessibleDescription(description);
    menu_->setWindowTitle(description);
  }
}

void TrayMenu::setAltHeld(bool held) {
  if (altHeld_ == held) return;
  altHeld_ = held;
  redraw();
}

void TrayMenu::redraw() {
  MenuItems next = presentedItems(items_, altHeld_);
  applyMenuChanges(shown_, next, *this);
  shown_ = std::move(next);
}

void TrayMenu::rebuild(const MenuItems& items) {
  menu_->clear();
  actions_.clear();
  for (const QPointer<QMenu>& submenu : submenus_)
    delete submenu.data();
  submenus_.clear();
  addItems(menu_.get(), items);
}

void TrayMenu::addItems(QMenu* into, const MenuItems& items) {
  for (const MenuItemState& item : items) {
    QAction* action = nullptr;
    if (item.type == MenuItemType::separator) {
      action = into->addSeparator();
    } else if (item.type == MenuItemType::submenu) {
      auto* submenu = new QMenu(into);
      submenu->installEventFilter(this);
      submenus_.emplace_back(submenu);
      addItems(submenu, item.children);
      action = into->addMenu(submenu);
    } else {
      action = into->addAction(QString());
      action->setCheckable(item.checkable);
      action->setChecked(item.checked);
      connect(action, &QAction::triggered, this, [this, id = item.id] {
        if (handlers_.activate) handlers_.activate(id);
      });
      if (item.id == menu_id::kQuit) action->setShortcut(kQuitShortcut);
    }
    action->setText(actionText(item.title));
    action->setEnabled(item.enabled);
    action->setVisible(item.visible);
    actions_[item.id] = action;
  }
}

void TrayMenu::setTitle(const std::string& id, const std::string& title) {
  actions_.at(id)->setText(actionText(title));
}
void TrayMenu::setEnabled(const std::string& id, bool enabled) {
  actions_.at(id)->setEnabled(enabled);
}
void TrayMenu::setChecked(const std::string& id, bool checked) {
  actions_.at(id)->setChecked(checked);
}
void TrayMenu::setVisible(const std::string& id, bool visible) {
  actions_.at(id)->setVisible(visible);
}

bool TrayMenu::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease)
    return QObject::eventFilter(watched, event);
  const auto* key = static_cast<QKeyEvent*>(event);
  // Pressing or releasing Alt while the menu is open swaps the alternates,
  // as the modifier held at opening does.
  if (key->key() == Qt::Key_Alt) setAltHeld(event->type() == QEvent::KeyPress);
  // Qt never matches the shortcut of an action that lives only in a context
  // menu, so the open menu takes Ctrl+Q itself.
  if (event->type() == QEvent::KeyPress && QKeySequence(key->keyCombination()) == kQuitShortcut) {
    if (QAction* quit = action(menu_id::kQuit)) quit->trigger();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

}  // namespace velmora::app
