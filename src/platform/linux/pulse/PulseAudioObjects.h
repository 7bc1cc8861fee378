#pragma once

// The audio objects of a PulseAudio (or PipeWire pulse) sound server, through
// libpulse's threaded main loop. Sinks are devices, sink inputs are process
// objects. The client reconnects by itself when the server is absent or
// restarts; meanwhile every read gives its neutral value.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/AudioObjects.h"
#include "platform/Types.h"

namespace velmora::linuxos {

class PulseAudioObjects : public AudioObjects {
 public:
  // Called on the sound-server thread whenever the set of sinks changes: one
  // appears, vanishes or is renamed (the connection dropping or coming back
  // included). The handler must only queue work. Replaces any earlier one;
  // pass nullptr to clear it.
  virtual void setSinksChangedHandler(std::function<void()> handler) = 0;

  // A sandboxed application's stream may claim the pid it has inside its
  // sandbox. For a stream with a portal-checked application id, the resolver
  // gets the claimed pid and that id and gives the host pid to report (none
  // keeps the claim). It runs on the reading thread.
  virtual void setStreamPidResolver(
      std::function<std::optional<Pid>(std::optional<Pid> claimed, const std::string& portalAppId)> resolver) = 0;

  // True while a server is connected and its state has been read.
  virtual bool isConnected() const = 0;
};

// Starts the client and waits briefly (at most about a second) for a first
// connection, so that early reads see the server when one is running. Never
// fails: without a server it keeps retrying in the background.
//
// Listener blocks registered without a queue, and the sinks-changed handler,
// run on the sound-server thread. That thread must not drop the last
// reference to the object, and a write of the default device made from it
// is refused (it would wait on itself).
std::shared_ptr<PulseAudioObjects> makePulseAudioObjects();

}  // namespace velmora::linuxos
