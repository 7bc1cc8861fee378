#pragma once

// A hook every thread the back ends start runs first, on that thread. The
// shell sets it before any back end starts, to prepare each thread for crash
// handling (its own signal stack, say) without the back ends knowing about it.

namespace velmora {

using ThreadStartHook = void (*)();

// Replaces any earlier hook; nullptr clears it. Threads already running are
// not affected.
void setThreadStartHook(ThreadStartHook hook);

// Called by a back end at the top of each thread it starts (or, for a
// library's thread, from the first callback run there).
void runThreadStartHook();

}  // namespace velmora
