#pragma once

// An in-memory audio platform: a system object (id 1) with a device list, a
// default output device and a list of audio process objects ("streams"), plus
// listeners, scenario mutators, queries for tests and fault injection.
//
// Thread-safe: one mutex guards all state, and no listener, queue or hook is
// ever called while it is held.
//
// Listeners are accepted on (system, 'dOut'), (system, 'prs#') and
// (process object, 'piro' or 'pout') only; any other address is refused with
// kAudioHardwareUnknownPropertyError, an unknown object (0 included) with
// kAudioHardwareBadObjectError. A removed process object takes its listeners
// with it; an object added later under the same id starts with none.
//
// A stream plays on the default output device unless it is pinned to
// another; a pinned one stays where it is when the default changes. Moving a
// stream onto the current default unpins it, and a stream pinned to a device
// that goes away follows the default again, as on both sound servers.
//
// Blocks registered with a queue are submitted to it with async(); blocks
// registered without one run at once on the thread that caused the change,
// after the lock is released, as they would on a sound server's own thread.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/AudioObjects.h"
#include "platform/Types.h"

namespace velmora::sim {

class SimAudio final : public AudioObjects {
 public:
  struct Device {
    AudioDeviceID id = 0;
    // nullopt: the name cannot be read (status 0, null reference).
    std::optional<std::string> name = std::nullopt;
    // false: the output-scope stream configuration has size 0.
    bool outputs = true;
    bool canBeDefault = true;
    bool alive = true;
    std::uint32_t transport = fourCharCode("    ");
  };

  struct Stream {
    AudioObjectID id = 0;
    // nullopt: the 'ppid' read fails.
    std::optional<Pid> pid = std::nullopt;
    // nullopt: the 'pbid' read gives status 0 and a null reference.
    std::optional<std::string> bundleID = std::nullopt;
    bool running = false;
    // The device it is pinned to (a choice the server restored, or the
    // user's); nullopt: it follows the default.
    std::optional<AudioDeviceID> pin = std::nullopt;
    // false: every move is refused (a stream made with PA_STREAM_DONT_MOVE).
    bool movable = true;
  };

  // Platform operations that can be told to fail, named as scenarios name
  // them. Each counts one call of the program's operation:
  //   setDefaultOutputDevice  a set of 'dOut'
  //   defaultOutputDevice     a get of 'dOut'
  //   outputDevices           a size query of 'dev#' (one per listing; the
  //                           list's data read and the per-device 'slay'
  //                           queries are not counted)
  //   deviceName              a get of 'lnam'
  //   processObjects          a size query of 'prs#'
  //   processPID              a get of 'ppid'
  //   setProcessOutputDevice  a set of a stream's 'pout' by the program: it
  //                           is taken (status 0) but not carried out, as
  //                           PipeWire 0.3.65 now and then does
  enum class Operation {
    setDefaultOutputDevice,
    defaultOutputDevice,
    outputDevices,
    deviceName,
    processObjects,
    processPID,
    setProcessOutputDevice,
  };

  SimAudio() = default;
  SimAudio(const SimAudio&) = delete;
  SimAudio& operator=(const SimAudio&) = delete;

  // AudioObjects.
  OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               std::uint32_t& outDataSize) override;
  OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t& ioDataSize,
                           void* outData) override;
  OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t& ioDataSize,
                             AudioStringRef& outString) override;
  OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t dataSize,
                           const void* data) override;
  OSStatus addPropertyListenerBlock(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                    std::shared_ptr<SerialQueue> queue,
                                    AudioObjectPropertyListenerBlock block) override;

  // Called outside the lock whenever the default output device actually
  // changes, whoever changed it; 0 when there is none left. Set it before the
  // simulation runs.
  std::function<void(AudioDeviceID)> onDefaultDeviceChanged;
  // The same for the device a stream plays on, called after the one above.
  std::function<void(AudioObjectID stream, AudioDeviceID from, AudioDeviceID to)> onStreamDeviceChanged;

  // Scenario mutators. Ids 0 and 1 are reserved, and an id may belong to one
  // device or stream at a time; a mutator that would break that, or that
  // names an unknown object, returns false and changes nothing.

  // Appends a device ("plug"). No notification: the device list has no
  // listeners.
  bool addDevice(Device device);
  // Removes a device ("unplug"). When it was the default, the default falls
  // back to the first remaining device that has outputs and can be the
  // default, or to none, and the default-device listeners fire.
  bool removeDevice(AudioDeviceID id);
  // No notification: no listener can be registered for a name.
  bool renameDevice(AudioDeviceID id, std::optional<std::string> name);
  // The default at start: 0 or a current device, no notification, no hook.
  bool setInitialDefault(AudioDeviceID id);
  // The user picks the default by hand. Same rules as a set of 'dOut': false
  // for an id that is not a device or a device that cannot be the default.
  // The listeners fire even when the device already is the default; the hook
  // fires only when the default actually changes.
  bool userSetDefault(AudioDeviceID id);
  // Appended; process-list listeners fire. A pin must name a current output
  // device.
  bool addStream(Stream stream);
  // Process-list listeners fire; the stream's own listeners are dropped.
  bool removeStream(AudioObjectID id);
  // The stream's running-output listeners fire when the flag changes.
  bool setRunning(AudioObjectID id, bool running);
  // The user moves a stream by hand. Same rules as a set of its 'pout':
  // false for a device that is not a current output device, or a stream
  // that cannot be moved.
  bool userMoveStream(AudioObjectID id, AudioDeviceID device);

  // Queries for tests and the scenario runner.
  AudioDeviceID defaultDevice() const;
  std::vector<Device> devices() const;
  std::vector<Stream> streams() const;
  std::optional<Device> device(AudioDeviceID id) const;
  std::optional<Stream> stream(AudioObjectID id) const;
  // The device a stream plays on; 0 for none, or no such stream.
  AudioDeviceID streamDevice(AudioObjectID id) const;
  // Listeners registered on one object for one selector.
  std::size_t listenerCount(AudioObjectID object, AudioObjectPropertySelector selector) const;
  // Calls made by the program, by selector (any object).
  std::size_t sizeQueryCount(AudioObjectPropertySelector selector) const;
  std::size_t dataReadCount(AudioObjectPropertySelector selector) const;

  // Fault injection. count: how many of the next calls fail; -1 always; 0
  // clears the fault.
  void fail(Operation operation, int count = 1);
  // The next count size queries of selector (on any object) fail, or, with a
  // size, report that size instead of the real one.
  void injectSizeQuery(AudioObjectPropertySelector selector, int count,
                       std::optional<std::uint32_t> reportedSize = std::nullopt);
  // The next count id-list reads of selector ('dev#', 'prs#') write at most
  // maxBytes bytes.
  void injectShortRead(AudioObjectPropertySelector selector, int count, std::uint32_t maxBytes);
  // The next count listener registrations for selector fail.
  void failListenerRegistrations(AudioObjectPropertySelector selector, int count = 1);

 private:
  struct Listener {
    AudioObjectID object = 0;
    AudioObjectPropertySelector selector = 0;
    std::shared_ptr<SerialQueue> queue;
    AudioObjectPropertyListenerBlock block;
  };
  // What to deliver once the lock is released.
  struct Pending {
    std::vector<Listener> listeners;
    std::optional<AudioDeviceID> newDefault;
    struct Move {
      AudioObjectID stream = 0;
      AudioDeviceID from = 0;
      AudioDeviceID to = 0;
    };
    std::vector<Move> movedStreams;
  };
  // The device each stream plays on.
  using Placement = std::map<AudioObjectID, AudioDeviceID>;

  // A fault with a remaining count: -1 forever, 0 inactive.
  struct Fault {
    int remaining = 0;
    bool consume();
  };
  struct SizeFault {
    Fault fault;
    std::optional<std::uint32_t> reportedSize;
  };
  struct ShortRead {
    Fault fault;
    std::uint32_t maxBytes = 0;
  };

  bool idTakenLocked(AudioObjectID id) const;
  const Device* findDeviceLocked(AudioObjectID id) const;
  Device* findDeviceLocked(AudioObjectID id);
  Stream* findStreamLocked(AudioObjectID id);
  const Stream* findStreamLocked(AudioObjectID id) const;
  bool validDefaultLocked(AudioDeviceID id) const;
  // Changes the default; queues its notifications when it actually changed.
  void changeDefaultLocked(AudioDeviceID id, Pending& pending);
  AudioDeviceID deviceOfLocked(const Stream& stream) const;
  Placement placementLocked() const;
  // Queues the notifications of every stream that plays elsewhere than before.
  void collectMovesLocked(const Placement& before, Pending& pending) const;
  OSStatus moveStreamLocked(Stream& stream, AudioDeviceID device, Pending& pending);
  void collectLocked(AudioObjectID object, AudioObjectPropertySelector selector, Pending& pending) const;
  void deliver(Pending pending);

  mutable std::mutex mutex_;
  std::vector<Device> devices_;
  std::vector<Stream> streams_;
  AudioDeviceID default_ = 0;
  std::vector<Listener> listeners_;
  std::map<Operation, Fault> faults_;
  std::map<AudioObjectPropertySelector, SizeFault> sizeFaults_;
  std::map<AudioObjectPropertySelector, ShortRead> shortReads_;
  std::map<AudioObjectPropertySelector, Fault> listenerFaults_;
  std::map<AudioObjectPropertySelector, std::size_t> sizeQueries_;
  std::map<AudioObjectPropertySelector, std::size_t> dataReads_;
};

// The operation a scenario's "fail" event names, or none for a name the audio
// platform does not know.
std::optional<SimAudio::Operation> operationFromName(std::string_view name);

}  // namespace velmora::sim
