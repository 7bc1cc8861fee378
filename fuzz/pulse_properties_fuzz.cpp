// What a sound server hands us about sinks, cards, clients and streams: names
// and properties set by arbitrary clients and drivers. Replies in any order
// go into the model, then every property a reader can ask for is read back.
#include <fuzzer/FuzzedDataProvider.h>
#include <pulse/proplist.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/linux/pulse/PulseModel.h"
#include "platform/linux/pulse/PulseReplies.h"
#include "platform/linux/pulse/PulseText.h"

using namespace velmora;
using namespace velmora::linuxos::pulse;

namespace {

// Keys the model reads, and one it does not.
const char* const kKeys[] = {"device.product.name",
                             "device.bus",
                             "device.api",
                             "client.api",
                             "pipewire.sec.pid",
                             "application.process.id",
                             "pipewire.access.portal.app_id",
                             "application.id",
                             "application.name",
                             "media.name"};

// A property list built the way libpulse hands it over, binary values included.
Properties properties(FuzzedDataProvider& in) {
  pa_proplist* list = pa_proplist_new();
  const int count = in.ConsumeIntegralInRange(0, 6);
  for (int i = 0; i < count; ++i) {
    const std::string key = in.ConsumeBool() ? in.PickValueInArray(kKeys) : in.ConsumeRandomLengthString(32);
    const std::string value = in.ConsumeRandomLengthString(2048);
    if (in.ConsumeBool()) {
      pa_proplist_sets(list, key.c_str(), value.c_str());
    } else {
      pa_proplist_set(list, key.c_str(), value.data(), value.size());
    }
  }
  Properties out = linuxos::pulse::properties(list);
  pa_proplist_free(list);
  return out;
}

std::optional<std::string> maybeText(FuzzedDataProvider& in) {
  if (in.ConsumeBool()) return std::nullopt;
  return in.ConsumeRandomLengthString(512);
}

void checkText(const std::string& raw) {
  const std::string valid = validUtf8(raw);
  if (valid.size() > kMaxTextBytes || validUtf8(valid) != valid) __builtin_trap();
  const auto trimmed = trimPadding(raw);
  if (trimmed.size() > raw.size()) __builtin_trap();
  if (const auto pid = parsePid(raw); pid && *pid <= 0) __builtin_trap();
}

AudioObjectPropertyAddress global(AudioObjectPropertySelector selector) {
  return {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
}

std::vector<AudioObjectID> ids(PulseModel& model, AudioObjectPropertySelector selector) {
  std::uint32_t size = 0;
  if (model.getPropertyDataSize(kAudioObjectSystemObject, global(selector), size) != kAudioHardwareNoError) return {};
  std::vector<AudioObjectID> out(size / sizeof(AudioObjectID));
  size = static_cast<std::uint32_t>(out.size() * sizeof(AudioObjectID));
  if (model.getPropertyData(kAudioObjectSystemObject, global(selector), size, out.data()) != kAudioHardwareNoError)
    return {};
  out.resize(size / sizeof(AudioObjectID));
  return out;
}

void readEverything(PulseModel& model) {
  std::vector<AudioObjectID> objects = ids(model, kAudioHardwarePropertyDevices);
  const auto processes = ids(model, kAudioHardwarePropertyProcessObjectList);
  objects.insert(objects.end(), processes.begin(), processes.end());
  objects.push_back(model.defaultSink());
  for (AudioObjectID object : objects) {
    for (AudioObjectPropertySelector selector : {kAudioObjectPropertyName, kAudioProcessPropertyBundleID}) {
      AudioStringRef text;
      std::uint32_t size = kAudioStringRefSize;
      if (model.getPropertyString(object, global(selector), size, text) == kAudioHardwareNoError && text) {
        if (validUtf8(*text) != *text) __builtin_trap();
      }
    }
    for (AudioObjectPropertySelector selector :
         {kAudioDevicePropertyTransportType, kAudioDevicePropertyDeviceCanBeDefaultDevice,
          kAudioDevicePropertyDeviceIsAlive, kAudioProcessPropertyPID, kAudioProcessPropertyIsRunningOutput,
          kAudioProcessPropertyOutputDevice}) {
      std::uint32_t value = 0;
      std::uint32_t size = sizeof value;
      (void)model.getPropertyData(object, global(selector), size, &value);
    }
    (void)model.sinkName(object);
    (void)model.streamMove(object, model.defaultSink());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  checkText(in.ConsumeRandomLengthString(4096));

  PulseModel model;
  model.beginLoading();
  bool loading = true;
  for (int step = 0; step < 64 && in.remaining_bytes() > 0; ++step) {
    const auto index = in.ConsumeIntegralInRange<std::uint32_t>(0, 4);
    switch (in.ConsumeIntegralInRange(0, 9)) {
      case 0: {
        SinkReply r;
        r.index = index;
        r.name = in.ConsumeRandomLengthString(256);
        r.description = maybeText(in);
        if (in.ConsumeBool()) r.card = in.ConsumeIntegralInRange<std::uint32_t>(0, 4);
        r.activePort = maybeText(in);
        r.activePortDescription = in.ConsumeRandomLengthString(256);
        r.activePortType = static_cast<PortType>(in.ConsumeIntegralInRange(0, 4));
        r.activePortUnavailable = in.ConsumeBool();
        r.channels = in.ConsumeIntegral<std::uint32_t>();
        r.properties = properties(in);
        model.updateSink(r);
        break;
      }
      case 1: {
        SinkInputReply r;
        r.index = index;
        if (in.ConsumeBool()) r.client = in.ConsumeIntegralInRange<std::uint32_t>(0, 4);
        r.corked = in.ConsumeBool();
        r.properties = properties(in);
        if (in.ConsumeBool()) r.sink = in.ConsumeIntegralInRange<std::uint32_t>(0, 4);
        model.updateSinkInput(r);
        break;
      }
      case 2: {
        CardReply r;
        r.index = index;
        const int ports = in.ConsumeIntegralInRange(0, 3);
        for (int i = 0; i < ports; ++i)
          r.ports.push_back(CardPortReply{in.ConsumeRandomLengthString(64), properties(in)});
        model.updateCard(r);
        break;
      }
      case 3:
        model.updateClient(ClientReply{index, properties(in)});
        break;
      case 4:
        model.updateServer(ServerReply{maybeText(in)});
        break;
      case 5:
        model.removeSink(index);
        break;
      case 6:
        model.removeSinkInput(index);
        break;
      case 7:
        in.ConsumeBool() ? (void)model.removeCard(index) : (void)model.removeClient(index);
        break;
      case 8:
        if (loading) model.finishLoading();
        loading = false;
        readEverything(model);
        break;
      default:
        model.disconnect();
        model.beginLoading();
        loading = true;
        break;
    }
  }
  if (loading) model.finishLoading();
  readEverything(model);
  return 0;
}
