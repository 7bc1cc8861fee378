#include "platform/linux/pulse/PulseModel.h"

#include <algorithm>
#include <utility>

#include "platform/Queue.h"
#include "platform/linux/pulse/PulseText.h"

namespace velmora::linuxos::pulse {
namespace {

const std::string* property(const Properties& properties, const std::string& key) {
  auto it = properties.find(key);
  return it == properties.end() ? nullptr : &it->second;
}

bool containsIgnoringCase(std::string_view text, std::string_view word) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return std::search(text.begin(), text.end(), word.begin(), word.end(),
                     [&](char a, char b) { return lower(a) == lower(b); }) != text.end();
}

}  // namespace

void deliver(const std::vector<Delivery>& deliveries) {
  for (const auto& delivery : deliveries) {
    if (delivery.queue) {
      delivery.queue->async([block = delivery.block, address = delivery.address] { block(1, &address); });
    } else {
      delivery.block(1, &delivery.address);
    }
  }
}

// --- Feeding ---------------------------------------------------------------

void PulseModel::beginLoading() {
  std::lock_guard lock(mutex_);
  loading_ = true;
  connected_ = false;
}

Notices PulseModel::finishLoading() {
  std::lock_guard lock(mutex_);
  loading_ = false;
  connected_ = true;
  Notices notices;
  listenersLocked(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList, notices);
  listenersLocked(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice, notices);
  reportedDefault_ = defaultSinkLocked();
  notices.sinksChanged = sinksChangedLocked();
  return notices;
}

Notices PulseModel::disconnect() {
  std::lock_guard lock(mutex_);
  // Process objects are gone for good, and their listeners with them.
  std::erase_if(listeners_, [&](const Listener& l) { return findStreamLocked(l.object) != nullptr; });
  sinks_.clear();
  streams_.clear();
  cards_.clear();
  clients_.clear();
  defaultSinkName_.reset();
  loading_ = false;
  connected_ = false;
  reportedDefault_ = 0;
  Notices notices;
  notices.sinksChanged = sinksChangedLocked();
  return notices;
}

Notices PulseModel::updateSink(const SinkReply& reply) {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(sinks_.begin(), sinks_.end(), [&](const Sink& s) { return s.reply.index == reply.index; });
  if (it != sinks_.end() && it->reply.name == reply.name) {
    it->reply = reply;
  } else {
    // An index that now names another sink is another object.
    if (it != sinks_.end()) sinks_.erase(it);
    sinks_.push_back(Sink{newIdLocked(), reply});
  }
  return settleLocked({});
}

Notices PulseModel::removeSink(std::uint32_t index) {
  std::lock_guard lock(mutex_);
  std::erase_if(sinks_, [&](const Sink& s) { return s.reply.index == index; });
  // The default is judged on the server's next word: it moves the default
  // away from a removed sink itself, and a notice of "none" meanwhile would
  // be taken for a change.
  Notices notices;
  if (!loading_ && connected_) notices.sinksChanged = sinksChangedLocked();
  return notices;
}

Notices PulseModel::updateSinkInput(const SinkInputReply& reply) {
  std::lock_guard lock(mutex_);
  Notices notices;
  auto it =
      std::find_if(streams_.begin(), streams_.end(), [&](const Stream& s) { return s.reply.index == reply.index; });
  if (it == streams_.end()) {
    streams_.push_back(Stream{newIdLocked(), reply});
    if (!loading_ && connected_) {
      listenersLocked(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList, notices);
    }
  } else {
    const bool runningChanged = it->reply.corked != reply.corked;
    const bool moved = it->reply.sink != reply.sink;
    it->reply = reply;
    if (!loading_ && connected_) {
      if (runningChanged) listenersLocked(it->id, kAudioProcessPropertyIsRunningOutput, notices);
      if (moved) listenersLocked(it->id, kAudioProcessPropertyOutputDevice, notices);
    }
  }
  return settleLocked(std::move(notices));
}

Notices PulseModel::removeSinkInput(std::uint32_t index) {
  std::lock_guard lock(mutex_);
  Notices notices;
  auto it = std::find_if(streams_.begin(), streams_.end(), [&](const Stream& s) { return s.reply.index == index; });
  if (it == streams_.end()) return notices;
  const AudioObjectID id = it->id;
  streams_.erase(it);
  std::erase_if(listeners_, [&](const Listener& l) { return l.object == id; });
  if (!loading_ && connected_) {
    listenersLocked(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList, notices);
  }
  return notices;
}

Notices PulseModel::updateServer(const ServerReply& reply) {
  std::lock_guard lock(mutex_);
  defaultSinkName_ = reply.defaultSinkName;
  return settleLocked({});
}

Notices PulseModel::updateCard(const CardReply& reply) {
  std::lock_guard lock(mutex_);
  cards_[reply.index] = reply;
  return settleLocked({});
}

Notices PulseModel::removeCard(std::uint32_t index) {
  std::lock_guard lock(mutex_);
  cards_.erase(index);
  return settleLocked({});
}

Notices PulseModel::updateClient(const ClientReply& reply) {
  std::lock_guard lock(mutex_);
  clients_[reply.index] = reply.properties;
  return {};
}

Notices PulseModel::removeClient(std::uint32_t index) {
  std::lock_guard lock(mutex_);
  clients_.erase(index);
  return {};
}

Notices PulseModel::settleLocked(Notices notices) {
  if (loading_ || !connected_) return notices;
  const AudioObjectID current = defaultSinkLocked();
  if (current != reportedDefault_) {
    reportedDefault_ = current;
    listenersLocked(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice, notices);
  }
  if (sinksChangedLocked()) notices.sinksChanged = true;
  return notices;
}

void PulseModel::listenersLocked(AudioObjectID object, AudioObjectPropertySelector selector, Notices& notices) const {
  for (const auto& listener : listeners_) {
    if (listener.object == object && listener.address.mSelector == selector) {
      notices.deliveries.push_back(Delivery{listener.queue, listener.block, listener.address});
    }
  }
}

AudioObjectID PulseModel::newIdLocked() {
  // 2^32 objects would take centuries; skip the reserved ids all the same.
  while (nextId_ == kAudioObjectUnknown || nextId_ == kAudioObjectSystemObject)
    ++nextId_;
  return nextId_++;
}

// --- Derived values ----------------------------------------------------------

const PulseModel::Sink* PulseModel::findSinkLocked(AudioObjectID id) const {
  for (const auto& sink : sinks_) {
    if (sink.id == id) return &sink;
  }
  return nullptr;
}

const PulseModel::Stream* PulseModel::findStreamLocked(AudioObjectID id) const {
  for (const auto& stream : streams_) {
    if (stream.id == id) return &stream;
  }
  return nullptr;
}

AudioObjectID PulseModel::defaultSinkLocked() const {
  if (!defaultSinkName_) return 0;
  for (const auto& sink : sinks_) {
    if (sink.reply.name == *defaultSinkName_) return sink.id;
  }
  return 0;
}

AudioObjectID PulseModel::streamSinkLocked(const Stream& stream) const {
  if (!stream.reply.sink) return 0;
  for (const auto& sink : sinks_) {
    if (sink.reply.index == *stream.reply.sink) return sink.id;
  }
  return 0;
}

std::string PulseModel::sinkDisplayNameLocked(const Sink& sink) const {
  std::string name = validUtf8(sink.reply.description ? *sink.reply.description : sink.reply.name);
  // The monitor's own name (from its ELD) where the server knows it: it is
  // what pairs HDMI and DisplayPort speakers with their display.
  if (!sink.reply.card || !sink.reply.activePort) return name;
  auto card = cards_.find(*sink.reply.card);
  if (card == cards_.end()) return name;
  for (const auto& port : card->second.ports) {
    if (port.name != *sink.reply.activePort) continue;
    const std::string* product = property(port.properties, "device.product.name");
    if (!product) break;
    const std::string monitor = validUtf8(trimPadding(*product));
    if (!monitor.empty() && name.find(monitor) == std::string::npos) {
      name = validUtf8(name + " (" + monitor + ")");
    }
    break;
  }
  return name;
}

std::uint32_t PulseModel::transportLocked(const Sink& sink) const {
  const SinkReply& r = sink.reply;
  const std::string bus = [&] {
    const std::string* value = property(r.properties, "device.bus");
    return value ? *value : std::string();
  }();
  const std::string port = r.activePort.value_or("");
  if (containsIgnoringCase(port, "displayport") || containsIgnoringCase(r.activePortDescription, "displayport")) {
    return fourCharCode("dprt");
  }
  if (r.activePortType == PortType::hdmi || containsIgnoringCase(port, "hdmi")) return fourCharCode("hdmi");
  const std::string* api = property(r.properties, "device.api");
  if (r.activePortType == PortType::bluetooth || bus == "bluetooth" || (api && *api == "bluez5")) {
    return fourCharCode("blue");
  }
  if (r.activePortType == PortType::usb || bus == "usb") return fourCharCode("usb ");
  // A sink without a card is made in software: a null sink, a filter, a
  // network tunnel.
  if (!r.card) return fourCharCode("virt");
  return fourCharCode("bltn");
}

std::optional<Pid> PulseModel::streamPidLocked(const Stream& stream) const {
  // The pid the server saw on the connection beats the one the client wrote.
  const Properties* client = nullptr;
  if (stream.reply.client) {
    if (auto it = clients_.find(*stream.reply.client); it != clients_.end()) client = &it->second;
  }
  for (const Properties* properties : {&stream.reply.properties, client}) {
    if (!properties) continue;
    // pipewire-pulse speaks to PipeWire for all its clients over its own
    // connection, so there the "verified" pid is the server's, not the player's.
    if (const std::string* api = property(*properties, "client.api"); api && *api == "pipewire-pulse") continue;
    if (const std::string* verified = property(*properties, "pipewire.sec.pid")) {
      if (auto pid = parsePid(*verified)) return pid;
    }
  }
  if (const std::string* claimed = property(stream.reply.properties, "application.process.id")) {
    return parsePid(*claimed);
  }
  return std::nullopt;
}

std::optional<std::string> PulseModel::streamPortalAppIdLocked(const Stream& stream) const {
  // The server sets it, on the stream or on its client; a client cannot.
  const Properties* client = nullptr;
  if (stream.reply.client) {
    if (auto it = clients_.find(*stream.reply.client); it != clients_.end()) client = &it->second;
  }
  for (const Properties* properties : {&stream.reply.properties, client}) {
    if (!properties) continue;
    if (const std::string* value = property(*properties, "pipewire.access.portal.app_id")) {
      std::string id = validUtf8(trimPadding(*value));
      if (!id.empty()) return id;
    }
  }
  return std::nullopt;
}

std::optional<std::string> PulseModel::streamBundleIDLocked(const Stream& stream) const {
  // A sandboxed application's id as its portal vouches for it, else the id
  // the application gives itself.
  if (auto portal = streamPortalAppIdLocked(stream)) return portal;
  if (const std::string* value = property(stream.reply.properties, "application.id")) {
    std::string id = validUtf8(trimPadding(*value));
    if (!id.empty()) return id;
  }
  return std::nullopt;
}

bool PulseModel::sinksChangedLocked() {
  auto signature = signatureLocked();
  if (signature == reportedSinks_) return false;
  reportedSinks_ = std::move(signature);
  return true;
}

PulseModel::Signature PulseModel::signatureLocked() const {
  Signature signature;
  for (const auto& sink : sinks_)
    signature.emplace_back(sink.id, sinkDisplayNameLocked(sink));
  return signature;
}

// --- Queries ------------------------------------------------------------------

void PulseModel::setStreamPidResolver(StreamPidResolver resolver) {
  std::lock_guard lock(mutex_);
  pidResolver_ = std::move(resolver);
}

bool PulseModel::isConnected() const {
  std::lock_guard lock(mutex_);
  return connected_;
}

std::optional<std::string> PulseModel::sinkName(AudioObjectID id) const {
  std::lock_guard lock(mutex_);
  if (!connected_) return std::nullopt;
  const Sink* sink = findSinkLocked(id);
  return sink ? std::optional(sink->reply.name) : std::nullopt;
}

AudioObjectID PulseModel::defaultSink() const {
  std::lock_guard lock(mutex_);
  return connected_ ? defaultSinkLocked() : 0;
}

std::optional<PulseModel::StreamMove> PulseModel::streamMove(AudioObjectID stream, AudioObjectID sink) const {
  std::lock_guard lock(mutex_);
  const Stream* from = connected_ ? findStreamLocked(stream) : nullptr;
  const Sink* to = connected_ ? findSinkLocked(sink) : nullptr;
  if (!from || !to) return std::nullopt;
  return StreamMove{from->reply.index, to->reply.index};
}

}  // namespace velmora::linuxos::pulse
