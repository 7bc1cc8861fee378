#pragma once

// Serial queues on asio. makeAsioQueue (LinuxPlatform.h) runs an io_context on
// a thread of its own; makeAsioMainQueue adapts an io_context that the caller
// runs on its own thread (a headless program's main loop).

#include <memory>
#include <string>

#include "platform/Queue.h"

namespace asio {
class io_context;
}

namespace velmora::linuxos {

// Blocks are posted to context; they run one at a time only when the caller
// runs context on a single thread. The context must outlive the queue and
// every work item and timer made from it.
std::shared_ptr<SerialQueue> makeAsioMainQueue(asio::io_context& context, const std::string& label);

// The steady clock for durations, the system clock for wall time.
std::shared_ptr<Clock> makeSystemClock();

}  // namespace velmora::linuxos
