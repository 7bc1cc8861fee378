#pragma once

// The heart of Velmora: chooses the application to follow, turns its window
// into a target output device, switches after a short delay, respects the
// user's own choice and reports a status pair to the shell.
//
// Routing state lives on the routing queue only; the display reload works on
// copied values on the platform's lookup queue, the main queue unless the
// platform gives one. Create through create(): callbacks given away hold the
// coordinator weakly.

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "audio/AudioHardware.h"
#include "audio/AudioProcessMonitor.h"
#include "display/DisplayAudioMapper.h"
#include "display/WindowTracker.h"
#include "platform/Platform.h"
#include "routing/FollowedApplication.h"
#include "routing/RoutingStatus.h"

namespace velmora {

struct TrackedApp {
  Pid pid = 0;
  std::optional<std::string> bundleID;
  std::string localizedName;

  friend bool operator==(const TrackedApp&, const TrackedApp&) = default;
};

struct OverrideAnchor {
  std::optional<Pid> appPID;
  std::optional<DisplayID> screenID;

  friend bool operator==(const OverrideAnchor&, const OverrideAnchor&) = default;
};

class RoutingCoordinator : public std::enable_shared_from_this<RoutingCoordinator> {
 public:
  using StatusCallback = std::function<void(RoutingStatus, const std::string&)>;
  using FollowedCallback = std::function<void(const std::optional<FollowedApplication>&)>;

  static constexpr const char* kRoutingQueueLabel = "co.quennet.velmora.routing";

  // Creates the routing queue and sets every field to its initial value;
  // starts nothing.
  static std::shared_ptr<RoutingCoordinator> create(Platform platform);

  // Main thread only; set before startRouting.
  StatusCallback onStatusChanged;
  // Main thread only; set before startRouting. Told the followed application
  // and its playing streams whenever they change; none when nothing is
  // followed.
  FollowedCallback onFollowedChanged;

  // Each display with its speakers and the devices to choose from, after
  // every reload of the displays. Main thread only; set before startRouting.
  using DisplaysCallback = std::function<void(const DisplaySpeakers&)>;
  DisplaysCallback onDisplaysChanged;

  // Main thread; called once.
  void startRouting();

  // The fixed twelve, followed in every build.
  static const std::set<std::string>& supportedMediaApps();
  static const std::vector<std::pair<std::string, std::vector<std::string>>>& ownerPrefixTable();

  struct Private;  // construction tag

  RoutingCoordinator(Private, Platform platform);
  ~RoutingCoordinator();

 private:
  struct PendingSwitch {
    AudioDeviceID deviceID = 0;
    std::shared_ptr<WorkItem> work;
  };
  // Our own move of a stream, until it is seen done.
  struct StreamMove {
    AudioDeviceID target = 0;
    Timestamp askedAt = 0;
    int attempts = 0;
  };

  Platform platform_;
  AudioHardware audio_;
  std::set<std::string> followedApps_;  // supportedMediaApps plus the platform's own
  // Whether anyone takes the displays' speakers; fixed at startRouting.
  bool publishDisplays_ = false;

  // Runs the display reads of reloadDisplays, in the order they were asked.
  std::shared_ptr<SerialQueue> lookupQueue_;

  // Fields, in the order of the routing model.
  std::shared_ptr<SerialQueue> routingQueue;
  DisplayAudioMapper mapper;
  std::shared_ptr<WindowTracker> windowTracker_;
  DisplayMap displayMap;
  std::vector<ScreenInfo> screens;
  std::optional<TrackedApp> trackedApp;
  std::optional<PendingSwitch> pendingSwitch;
  std::shared_ptr<RepeatingTimer> audioPollingTimer;
  std::map<Pid, Timestamp> audioProducingSince;
  std::map<Pid, Timestamp> audioLastSeen;
  std::map<Pid, TrackedApp> recentCandidates;
  std::optional<OverrideAnchor> overrideAnchor;
  std::optional<Rect> lastSeenRect;
  std::optional<Timestamp> lastInternalSwitchAt;
  std::optional<AudioDeviceID> lastKnownDefaultDevice;

  // The playing streams of each candidate, by owner pid, as of the latest
  // poll.
  std::map<Pid, std::vector<AudioObjectID>> appStreams;
  // The device each stream of the tracked app was last seen on, kept while
  // the stream exists.
  std::map<AudioObjectID, AudioDeviceID> streamDevices;
  // Our moves of those streams not yet seen done.
  std::map<AudioObjectID, StreamMove> streamMoves;
  // Streams whose move the sound server refused; never asked again.
  std::set<AudioObjectID> unmovableStreams;
  // The device outside the displays one of the tracked app's streams plays
  // on, as last noted.
  std::optional<AudioDeviceID> followedExternal;
  // What the shell was last told of the tracked app.
  std::optional<FollowedApplication> publishedFollowed;

  WindowTracker& windowTracker();

  // Start-up and observers.
  void installObservers();
  void reloadDisplays(std::function<void()> completion);

  // Tracked-app selection.
  void pollAudioProducers();
  void resolveCandidates(const std::vector<PlayingStream>& streams, Timestamp pollTime);
  std::optional<RunningApplication> resolveOwnerApp(Pid pid, const std::optional<std::string>& bundleID) const;
  std::optional<RunningApplication> nearestRunningApplication(Pid pid) const;
  void updateCandidates(const std::vector<TrackedApp>& candidates, std::map<Pid, std::vector<AudioObjectID>> streams,
                        Timestamp pollTime);
  bool candidateOrder(const TrackedApp& a, const TrackedApp& b);
  void setTrackedApp(const std::optional<TrackedApp>& app);

  // Route evaluation and switching.
  void evaluateRoute(const std::optional<Rect>& rect);
  std::string displayNameForDevice(AudioDeviceID device) const;
  void performSwitch(AudioDeviceID target);
  void cancelPendingSwitch();

  // User override.
  void defaultOutputDidChange();
  // Less than 1.0 s after our own switch: changes seen now may be its echo.
  bool withinOwnSwitchQuietWindow() const;
  void anchorOverride();
  bool overrideCheckKeeps(const std::optional<Rect>& rect);
  void applyTrackedAppRule(const std::optional<TrackedApp>& app);

  // The tracked app's streams.
  const std::vector<AudioObjectID>& followedStreams() const;
  bool noteFollowedStreams(AudioDeviceID current);
  std::optional<AudioDeviceID> followedExternalDevice() const;
  void moveFollowedStreams(AudioDeviceID target);
  void followedStreamMoved();
  void forgetStreams(std::optional<Pid> app);
  void publishFollowed();

  // Status.
  bool isDisplaySpeaker(AudioDeviceID device) const;
  void refreshStatus();
  void publishStatus(RoutingStatus status, std::string message);
};

}  // namespace velmora
