#pragma once

// The user's preferences (QSettings), shared by the shell services.

#include <QSettings>
#include <QVariant>
#include <memory>

namespace velmora::app {

// ~/.config/Quennet/Velmora.conf (or under $XDG_CONFIG_HOME).
std::unique_ptr<QSettings> openPreferences();

// Sets key and writes the preferences out at once. False when they could not
// be written; the first such failure of the run is logged, later ones are not.
bool storePreference(QSettings& settings, const char* key, const QVariant& value);

// Writes the preferences out at once, as storePreference does.
bool syncPreferences(QSettings& settings);

inline constexpr const char* kCrashReportingEnabledKey = "co.quennet.velmora.crashReportingEnabled";
// Absent before the first launch; written once the login default was applied.
inline constexpr const char* kLaunchedBeforeKey = "co.quennet.velmora.launchedBefore";

}  // namespace velmora::app
