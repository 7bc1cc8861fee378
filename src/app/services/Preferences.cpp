#include "app/services/Preferences.h"

#include <atomic>

#include "platform/Log.h"

namespace velmora::app {

std::unique_ptr<QSettings> openPreferences() {
  return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, "Quennet", "Velmora");
}

bool storePreference(QSettings& settings, const char* key, const QVariant& value) {
  settings.setValue(key, value);
  return syncPreferences(settings);
}

bool syncPreferences(QSettings& settings) {
  settings.sync();
  const QSettings::Status status = settings.status();
  if (status == QSettings::NoError) return true;
  // Every later write would fail the same way; one line says it all.
  static std::atomic<bool> reported{false};
  if (!reported.exchange(true)) {
    static const Logger log(kVelmoraSubsystem, "General");
    log.info("preferences not saved: %s %s",
             {settings.fileName().toStdString(), status == QSettings::AccessError
                                                     ? std::string("cannot be written")
                                                     : std::string("is not a valid settings file")});
  }
  return false;
}

}  // namespace velmora::app
