#pragma once

// What we know of a sound server, built from its replies as plain values, and
// the audio objects read from it. No libpulse here: PulseClient feeds it from
// the server's thread, tests feed it by hand.
//
// Ids: every sink and sink input gets an id of ours, never 0 or 1, and no id
// is given to a second object while the program runs. A sink that comes back
// (removed and added again, or listed again after a reconnect) is a new
// object with a new id: the routing core then sees its old default device
// gone, takes the change for a fall-back rather than the user's choice, and
// pairs the displays afresh.
//
// Thread-safe: one mutex guards the state; listeners are returned as
// Deliveries and run by the caller once the mutex is released.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/AudioObjects.h"
#include "platform/Types.h"

namespace velmora::linuxos::pulse {

using Properties = std::map<std::string, std::string>;

enum class PortType { unknown, hdmi, usb, bluetooth, builtIn };

struct SinkReply {
  std::uint32_t index = 0;
  std::string name;
  std::optional<std::string> description;
  std::optional<std::uint32_t> card;
  std::optional<std::string> activePort;
  std::string activePortDescription;
  PortType activePortType = PortType::unknown;
  bool activePortUnavailable = false;
  std::uint32_t channels = 0;
  Properties properties;
};

struct SinkInputReply {
  std::uint32_t index = 0;
  std::optional<std::uint32_t> client;
  bool corked = false;
  Properties properties;
  // The sink it plays on.
  std::optional<std::uint32_t> sink;
};

struct ServerReply {
  std::optional<std::string> defaultSinkName;
};

struct CardPortReply {
  std::string name;
  Properties properties;
};

struct CardReply {
  std::uint32_t index = 0;
  std::vector<CardPortReply> ports;
};

struct ClientReply {
  std::uint32_t index = 0;
  Properties properties;
};

// One listener block to run: on its queue, or at once without one.
struct Delivery {
  std::shared_ptr<SerialQueue> queue;
  AudioObjectPropertyListenerBlock block;
  AudioObjectPropertyAddress address;
};

struct Notices {
  std::vector<Delivery> deliveries;
  // A sink appeared, vanished or changed its name.
  bool sinksChanged = false;
};

// Runs the deliveries, in order.
void deliver(const std::vector<Delivery>& deliveries);

class PulseModel {
 public:
  // A connection is up; its replies load the state until finishLoading.
  // Nothing is reported while loading.
  void beginLoading();
  // The state is complete: reads see the server, and every process-list and
  // default-device listener is told once, so that readers start afresh.
  Notices finishLoading();
  // The connection is gone: reads give neutral values until the next
  // finishLoading. Listeners on the system object are kept.
  Notices disconnect();

  Notices updateSink(const SinkReply& reply);
  Notices removeSink(std::uint32_t index);
  Notices updateSinkInput(const SinkInputReply& reply);
  Notices removeSinkInput(std::uint32_t index);
  Notices updateServer(const ServerReply& reply);
  Notices updateCard(const CardReply& reply);
  Notices removeCard(std::uint32_t index);
  Notices updateClient(const ClientReply& reply);
  Notices removeClient(std::uint32_t index);

  // Gives the pid to report for a stream that claims pid (if any) and whose
  // application id the server's portal check vouches for; none keeps the
  // claim. Called without the model's lock held.
  using StreamPidResolver =
      std::function<std::optional<Pid>(std::optional<Pid> claimed, const std::string& portalAppId)>;
  void setStreamPidResolver(StreamPidResolver resolver);

  bool isConnected() const;
  // The server's name of a sink of ours.
  std::optional<std::string> sinkName(AudioObjectID id) const;
  AudioObjectID defaultSink() const;
  // The server's indices of a stream of ours and of a sink of ours, to move
  // the one to the other.
  struct StreamMove {
    std::uint32_t stream = 0;
    std::uint32_t sink = 0;
  };
  std::optional<StreamMove> streamMove(AudioObjectID stream, AudioObjectID sink) const;

  // The AudioObjects reads and listener registration.
  OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               std::uint32_t& outDataSize) const;
  OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t& ioDataSize,
                           void* outData) const;
  OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t& ioDataSize,
                             AudioStringRef& outString) const;
  OSStatus addPropertyListenerBlock(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                    std::shared_ptr<SerialQueue> queue, AudioObjectPropertyListenerBlock block);

 private:
  struct Sink {
    AudioObjectID id = 0;
    SinkReply reply;
  };
  struct Stream {
    AudioObjectID id = 0;
    SinkInputReply reply;
  };
  struct Listener {
    AudioObjectID object = 0;
    AudioObjectPropertyAddress address;
    std::shared_ptr<SerialQueue> queue;
    AudioObjectPropertyListenerBlock block;
  };
  using Signature = std::vector<std::pair<AudioObjectID, std::string>>;

  AudioObjectID newIdLocked();
  const Sink* findSinkLocked(AudioObjectID id) const;
  const Stream* findStreamLocked(AudioObjectID id) const;
  AudioObjectID defaultSinkLocked() const;
  AudioObjectID streamSinkLocked(const Stream& stream) const;
  std::string sinkDisplayNameLocked(const Sink& sink) const;
  std::uint32_t transportLocked(const Sink& sink) const;
  std::optional<Pid> streamPidLocked(const Stream& stream) const;
  std::optional<std::string> streamPortalAppIdLocked(const Stream& stream) const;
  std::optional<std::string> streamBundleIDLocked(const Stream& stream) const;
  Signature signatureLocked() const;
  // Whether the set of sinks differs from the one last reported; remembers it.
  bool sinksChangedLocked();
  void listenersLocked(AudioObjectID object, AudioObjectPropertySelector selector, Notices& notices) const;
  // Reports what changed since the last report, unless loading.
  Notices settleLocked(Notices notices);

  mutable std::mutex mutex_;
  bool loading_ = false;
  bool connected_ = false;
  std::vector<Sink> sinks_;
  std::vector<Stream> streams_;
  std::map<std::uint32_t, CardReply> cards_;
  std::map<std::uint32_t, Properties> clients_;
  std::optional<std::string> defaultSinkName_;
  AudioObjectID reportedDefault_ = 0;
  Signature reportedSinks_;
  AudioObjectID nextId_ = 2;
  std::vector<Listener> listeners_;
  StreamPidResolver pidResolver_;
};

}  // namespace velmora::linuxos::pulse
