#pragma once

// A submenu as the status menu may carry one: a display's speakers, to pick.

#include "app/shell/MenuTree.h"

namespace velmora::app::test {

inline MenuItemState speakersSubmenu() {
  MenuItemState speakers;
  speakers.id = "speakers";
  speakers.type = MenuItemType::submenu;
  speakers.title = "Speakers for Studio TV";
  MenuItemState entry;
  entry.id = "speakers/tv";
  entry.title = "Studio TV";
  entry.checkable = entry.checked = true;
  speakers.children = {entry};
  return speakers;
}

}  // namespace velmora::app::test
