#pragma once

// The Linux back ends wired together: PulseAudio/PipeWire for audio, X11 for
// screens and windows, /proc for applications, asio threads for queues.

#include <memory>

#include "platform/Log.h"
#include "platform/Platform.h"

namespace velmora::linuxos {

// Never fails: a sound server or X server that is missing or goes away gives
// neutral values until it is back. mainQueue is the caller's main-thread queue.
Platform makeLinuxPlatform(std::shared_ptr<SerialQueue> mainQueue);

// A serial queue run by its own thread.
std::shared_ptr<SerialQueue> makeAsioQueue(const std::string& label);

// The systemd journal when there is one, else standard error.
std::shared_ptr<LogSink> makeSystemLogSink();

}  // namespace velmora::linuxos
