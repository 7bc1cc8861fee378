#pragma once

// Fatal-signal and std::terminate handlers that leave a crash record on disk
// for the next start to send. Everything they do at crash time is
// async-signal-safe: no allocation, no locks, no stdio.

#include <string>

namespace velmora::app {

// Installs the handlers (again, harmlessly, on a second call). Records go to
// directory, which is created when missing; release is written into each
// record. Returns false when the directory cannot be made or is too long.
bool installCrashHandlers(const std::string& directory, const std::string& release);

// $XDG_CACHE_HOME/velmora/crashes, or ~/.cache/velmora/crashes.
std::string defaultCrashDirectory();

}  // namespace velmora::app
