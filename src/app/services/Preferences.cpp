#include "app/services/Preferences.h"

namespace velmora::app {

std::unique_ptr<QSettings> openPreferences() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Quennet", "Velmora");
}

}  // namespace velmora::app
