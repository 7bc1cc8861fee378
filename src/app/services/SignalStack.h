#pragma once

// Per-thread signal stacks for the crash handlers: a fault from a stack
// overflow can only be handled on a stack of its own.

namespace velmora::app {

// Gives the calling thread a signal stack unless it has one already; it is
// given back when the thread ends. Failure leaves the thread as it was.
void installSignalStack();

}  // namespace velmora::app
