#pragma once

// The user's preferences (QSettings), shared by the shell services.

#include <QSettings>
#include <memory>

namespace velmora::app {

// ~/.config/Quennet/Velmora.conf (or under $XDG_CONFIG_HOME).
std::unique_ptr<QSettings> openPreferences();

inline constexpr const char* kCrashReportingEnabledKey = "co.quennet.velmora.crashReportingEnabled";
// Absent before the first launch; written once the login default was applied.
inline constexpr const char* kLaunchedBeforeKey = "co.quennet.velmora.launchedBefore";

}  // namespace velmora::app
