#pragma once

// Somewhere besides the tray that shows the status menu: GNOME Shell's top
// bar, through Velmora's Shell extension, where no tray host exists.

#include <functional>
#include <memory>
#include <string>

#include "app/shell/StatusMenuModel.h"

namespace velmora::app {

class MenuMirror {
 public:
  struct Handlers {
    // An item was chosen; called on the main thread, outside any bus callback.
    std::function<void(const std::string& id)> activate;
    // Someone is about to show the menu: bring it up to date (publish follows
    // when anything changed).
    std::function<void()> refresh;
  };

  virtual ~MenuMirror() = default;
  // The menu as it is now; called on every change, never for a repeat.
  virtual void publish(const StatusMenuModel& model) = 0;
};

}  // namespace velmora::app
