#pragma once

// The Linux back ends wired together: PulseAudio/PipeWire for audio, the
// desktop session (X11 or a Wayland compositor) for screens and windows, /proc
// for applications, asio threads for queues.

#include <functional>
#include <memory>
#include <string>

#include "platform/Log.h"
#include "platform/Platform.h"
#include "platform/linux/session/Session.h"

namespace velmora::linuxos {

struct LinuxPlatformOptions {
  Environment env = processEnvironment();
  // Shows a plain message to the user, called on any thread; null without a shell.
  std::function<void(const std::string& text)> tellUser;
};

struct LinuxDesktop {
  Platform platform;
  SessionKind session = SessionKind::x11;
  // The diagnostics dialog's session line, "Session: …".
  std::function<std::string()> sessionLine;
};

// Never fails: a sound server, X server or compositor that is missing or goes
// away gives neutral values until it is back. mainQueue is the caller's
// main-thread queue. The chosen session is logged once.
LinuxDesktop makeLinuxDesktop(std::shared_ptr<SerialQueue> mainQueue, LinuxPlatformOptions options = {});
Platform makeLinuxPlatform(std::shared_ptr<SerialQueue> mainQueue);

// A serial queue run by its own thread.
std::shared_ptr<SerialQueue> makeAsioQueue(const std::string& label);

// The systemd journal when there is one, else standard error.
std::shared_ptr<LogSink> makeSystemLogSink();

}  // namespace velmora::linuxos
