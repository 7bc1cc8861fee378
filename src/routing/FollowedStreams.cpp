// The tracked application's own streams. A sound server keeps a stream on the
// device a user once chose for the application, whatever the default, and
// puts the application there again when it next starts: switching the
// default alone can leave the sound on another display.

#include <algorithm>

#include "routing/RoutingCoordinator.h"
#include "routing/RoutingLog.h"

namespace velmora {

namespace {
// A server may take a move and not carry it out (PipeWire 0.3.65 now and then
// does): a move not seen done after this long is asked again, up to this many
// times in all.
constexpr double kStreamMoveWait = 1.0;
constexpr int kStreamMoveAttempts = 3;
}  // namespace

const std::vector<AudioObjectID>& RoutingCoordinator::followedStreams() const {
  static const std::vector<AudioObjectID> none;
  if (!trackedApp) return none;
  const auto it = appStreams.find(trackedApp->pid);
  return it == appStreams.end() ? none : it->second;
}

// A stream seen on a display's speakers other than the default, after it was
// seen elsewhere, was moved there by hand (ours only ever go to the default):
// that anchors an override as a display's speakers picked as the default do,
// and is ignored as they are within the quiet window of our own switch.
// Returns whether an override was anchored, or the device outside the
// displays one of the streams plays on changed.
bool RoutingCoordinator::noteFollowedStreams(AudioDeviceID current) {
  bool anchored = false;
  std::optional<AudioDeviceID> external;
  for (AudioObjectID id : followedStreams()) {
    const AudioDeviceID device = audio_.processOutputDevice(id);
    if (device == kAudioObjectUnknown) continue;
    if (!external && !isDisplaySpeaker(device)) external = device;
    const auto seen = streamDevices.find(id);
    const bool moved = seen != streamDevices.end() && seen->second != device;
    streamDevices[id] = device;
    if (auto ours = streamMoves.find(id); ours != streamMoves.end() && ours->second.target == device) {
      streamMoves.erase(ours);
    } else if (moved && device != current && isDisplaySpeaker(device) && !anchored && !withinOwnSwitchQuietWindow()) {
      routingLog().info("stream %u moved by hand to %u (%s)", {id, device, audio_.deviceName(device).value_or("?")});
      streamMoves.erase(id);
      anchorOverride();
      anchored = true;
    }
  }

  const bool externalChanged = external != followedExternal;
  followedExternal = external;
  if (externalChanged && external) {
    routingLog().info("tracked app plays on external output: %s", {audio_.deviceName(*external).value_or("?")});
  }
  return anchored || externalChanged;
}

std::optional<AudioDeviceID> RoutingCoordinator::followedExternalDevice() const {
  for (AudioObjectID id : followedStreams()) {
    const AudioDeviceID device = audio_.processOutputDevice(id);
    if (device != kAudioObjectUnknown && !isDisplaySpeaker(device)) return device;
  }
  return std::nullopt;
}

// Moving a stream onto the default output device also frees it to follow
// the default from then on, on both sound servers we run on. PulseAudio
// (checked with 16.1) forgets a stream's preferred sink when it is moved to
// the default sink, and module-stream-restore then keeps no device for the
// application. pipewire-pulse (checked with 0.3.65 and WirePlumber 0.4.13)
// writes "no target" into the stream's target metadata when the destination
// is the default sink, so WirePlumber links it to the default and its
// restore-stream keeps no target either. So a stream moved here does not stay
// behind at the next switch, and a player that restarts is not put back on
// the old device.
void RoutingCoordinator::moveFollowedStreams(AudioDeviceID target) {
  bool refused = false;
  const Timestamp now = platform_.clock->now();
  for (AudioObjectID id : followedStreams()) {
    const AudioDeviceID device = audio_.processOutputDevice(id);
    // A device outside the displays is the user's choice.
    if (device == kAudioObjectUnknown || device == target || !isDisplaySpeaker(device)) continue;
    if (unmovableStreams.contains(id)) continue;
    StreamMove& move = streamMoves[id];
    if (move.target != target) move = StreamMove{target, now, 0};
    if (move.attempts > 0 && (now - move.askedAt < kStreamMoveWait || move.attempts >= kStreamMoveAttempts)) continue;
    const OSStatus status = audio_.setProcessOutputDevice(id, target);
    if (status != kAudioHardwareNoError) {
      // A stream made with PA_STREAM_DONT_MOVE, say: it stays where it is.
      routingLog().info("stream %u cannot be moved to %u: the sound server refuses", {id, target});
      unmovableStreams.insert(id);
      streamMoves.erase(id);
      refused = true;
      continue;
    }
    move.askedAt = now;
    ++move.attempts;
    routingLog().info("moving stream %u from %u to %u", {id, device, target});
  }
  if (refused) publishFollowed();
}

// A stream moved, whoever moved it: the only news here is the user's.
void RoutingCoordinator::followedStreamMoved() {
  const AudioDeviceID current = audio_.defaultOutputDevice();
  if (!isDisplaySpeaker(current) || !noteFollowedStreams(current)) return;
  cancelPendingSwitch();
  refreshStatus();
}

void RoutingCoordinator::forgetStreams(std::optional<Pid> app) {
  // Called before the new app is set: trackedApp is still the one the
  // streams belong to.
  if (app != (trackedApp ? std::optional<Pid>(trackedApp->pid) : std::nullopt)) {
    streamDevices.clear();
    streamMoves.clear();
  }
  if (streamDevices.empty() && streamMoves.empty() && unmovableStreams.empty()) return;
  // Kept while the stream exists, paused or not: a stream that stops for a
  // moment (PipeWire's does while it is moved to another sink) and plays
  // again elsewhere was moved, not started there; and a refused one is never
  // asked again.
  const std::vector<AudioObjectID> present = audio_.processObjects();
  const auto gone = [&present](AudioObjectID id) {
    return std::find(present.begin(), present.end(), id) == present.end();
  };
  std::erase_if(streamDevices, [&gone](const auto& entry) { return gone(entry.first); });
  std::erase_if(streamMoves, [&gone](const auto& entry) { return gone(entry.first); });
  std::erase_if(unmovableStreams, gone);
}

void RoutingCoordinator::publishFollowed() {
  std::optional<FollowedApplication> followed;
  if (trackedApp) {
    followed = FollowedApplication{trackedApp->pid, trackedApp->localizedName, {}};
    for (AudioObjectID id : followedStreams())
      followed->streams.push_back({id, unmovableStreams.contains(id)});
  }
  if (followed == publishedFollowed) return;
  publishedFollowed = followed;
  auto self = shared_from_this();
  platform_.mainQueue->async([self, followed = std::move(followed)] {
    if (self->onFollowedChanged) self->onFollowedChanged(followed);
  });
}

}  // namespace velmora
