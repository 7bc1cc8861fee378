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

// Gives the calling thread, and through the back ends' thread-start hook every
// thread they start from now on, a signal stack of its own, so that a stack
// overflow on any of them can still be recorded. Call before the back ends
// start; harmless without the handlers and on a second call.
void prepareThreadsForCrashHandling();

// $XDG_CACHE_HOME/velmora/crashes, or ~/.cache/velmora/crashes.
std::string defaultCrashDirectory();

}  // namespace velmora::app
