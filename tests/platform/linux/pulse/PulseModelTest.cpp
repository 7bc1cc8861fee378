#include "platform/linux/pulse/PulseModel.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/Queue.h"
#include "platform/linux/pulse/PulseText.h"
#include "support/ManualQueue.h"

namespace velmora::linuxos::pulse {
namespace {

AudioObjectPropertyAddress global(AudioObjectPropertySelector selector) {
  return {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
}

SinkReply sink(std::uint32_t index, std::string name, std::optional<std::string> description,
               std::optional<std::uint32_t> card = std::nullopt, std::optional<std::string> port = std::nullopt) {
  return {index, std::move(name), std::move(description), card, std::move(port), "", PortType::unknown, false, 2, {}};
}

SinkInputReply stream(std::uint32_t index, bool corked, Properties properties = {},
                      std::optional<std::uint32_t> sink = std::nullopt) {
  return {index, std::nullopt, corked, std::move(properties), sink};
}

class PulseModelTest : public ::testing::Test {
 protected:
  void connect(const std::vector<SinkReply>& sinks, std::optional<std::string> defaultSink,
               const std::vector<SinkInputReply>& streams = {}) {
    model.beginLoading();
    model.updateServer(ServerReply{std::move(defaultSink)});
    for (const auto& s : sinks)
      EXPECT_TRUE(model.updateSink(s).deliveries.empty());
    for (const auto& s : streams)
      EXPECT_TRUE(model.updateSinkInput(s).deliveries.empty());
    apply(model.finishLoading());
  }

  // Counts every listener firing by selector, and the sinks-changed hook.
  void listen(AudioObjectID object, AudioObjectPropertySelector selector) {
    ASSERT_EQ(
        model.addPropertyListenerBlock(object, global(selector), nullptr,
                                       [this, selector](std::uint32_t count, const AudioObjectPropertyAddress* a) {
                                         ASSERT_EQ(count, 1u);
                                         EXPECT_EQ(a->mSelector, selector);
                                         ++fired[selector];
                                       }),
        kAudioHardwareNoError);
  }

  void apply(const Notices& notices) {
    deliver(notices.deliveries);
    if (notices.sinksChanged) ++sinksChanged;
  }

  std::vector<AudioObjectID> list(AudioObjectPropertySelector selector) {
    std::uint32_t size = 0;
    EXPECT_EQ(model.getPropertyDataSize(kAudioObjectSystemObject, global(selector), size), kAudioHardwareNoError);
    std::vector<AudioObjectID> ids(size / 4);
    EXPECT_EQ(model.getPropertyData(kAudioObjectSystemObject, global(selector), size, ids.data()),
              kAudioHardwareNoError);
    return ids;
  }

  std::uint32_t u32(AudioObjectID object, AudioObjectPropertySelector selector, OSStatus* status = nullptr,
                    AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal) {
    std::uint32_t value = 0;
    std::uint32_t size = sizeof value;
    const OSStatus s = model.getPropertyData(object, {selector, scope, 0}, size, &value);
    if (status) *status = s;
    return s == kAudioHardwareNoError ? value : 0;
  }

  AudioStringRef text(AudioObjectID object, AudioObjectPropertySelector selector, OSStatus* status = nullptr) {
    AudioStringRef out;
    std::uint32_t size = kAudioStringRefSize;
    const OSStatus s = model.getPropertyString(object, global(selector), size, out);
    if (status) *status = s;
    return out;
  }

  std::optional<Pid> pid(AudioObjectID object) {
    OSStatus status = 0;
    const auto value = u32(object, kAudioProcessPropertyPID, &status);
    if (status != kAudioHardwareNoError) return std::nullopt;
    return static_cast<Pid>(value);
  }

  PulseModel model;
  std::map<AudioObjectPropertySelector, int> fired;
  int sinksChanged = 0;
};

TEST_F(PulseModelTest, SinksAreDevicesWithOurOwnIdsInServerOrder) {
  auto hdmi = sink(7, "alsa_output.hdmi", "HDA Intel PCH HDMI 1", 3, "hdmi-output-0");
  hdmi.activePortType = PortType::hdmi;
  auto usb = sink(2, "alsa_output.usb", "USB Speakers", 4);
  usb.properties["device.bus"] = "usb";
  auto bt = sink(9, "bluez_output.aa", "Headphones", 5);
  bt.properties["device.api"] = "bluez5";
  auto dp = sink(1, "alsa_output.dp", "Monitor", 3, "[Out] DisplayPort1");
  dp.activePortUnavailable = true;
  auto null = sink(0, "a", std::nullopt);
  null.channels = 0;
  connect({hdmi, usb, bt, dp, null}, "alsa_output.usb");

  const auto ids = list(kAudioHardwarePropertyDevices);
  ASSERT_EQ(ids.size(), 5u);
  EXPECT_EQ(std::set<AudioObjectID>(ids.begin(), ids.end()).size(), 5u);
  for (auto id : ids)
    EXPECT_GT(id, kAudioObjectSystemObject);
  EXPECT_EQ(u32(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice), ids[1]);

  EXPECT_EQ(text(ids[0], kAudioObjectPropertyName), "HDA Intel PCH HDMI 1");
  EXPECT_EQ(text(ids[4], kAudioObjectPropertyName), "a");  // no description: the sink's name
  const std::uint32_t transports[] = {fourCharCode("hdmi"), fourCharCode("usb "), fourCharCode("blue"),
                                      fourCharCode("dprt"), fourCharCode("virt")};
  for (std::size_t i = 0; i < ids.size(); ++i)
    EXPECT_EQ(u32(ids[i], kAudioDevicePropertyTransportType), transports[i]) << i;
  EXPECT_EQ(u32(ids[0], kAudioDevicePropertyDeviceIsAlive), 1u);
  EXPECT_EQ(u32(ids[3], kAudioDevicePropertyDeviceIsAlive), 0u);
  EXPECT_EQ(u32(ids[0], kAudioDevicePropertyDeviceCanBeDefaultDevice, nullptr, kAudioObjectPropertyScopeOutput), 1u);

  std::uint32_t size = 0;
  const AudioObjectPropertyAddress slay{kAudioDevicePropertyStreamConfiguration, kAudioObjectPropertyScopeOutput, 0};
  EXPECT_EQ(model.getPropertyDataSize(ids[0], slay, size), kAudioHardwareNoError);
  EXPECT_GT(size, 0u);
  EXPECT_EQ(model.getPropertyDataSize(ids[4], slay, size), kAudioHardwareNoError);
  EXPECT_EQ(size, 0u);

  // A short buffer gets as many ids as fit.
  std::vector<AudioObjectID> two(2);
  size = 8;
  EXPECT_EQ(model.getPropertyData(kAudioObjectSystemObject, global(kAudioHardwarePropertyDevices), size, two.data()),
            kAudioHardwareNoError);
  EXPECT_EQ(size, 8u);
  EXPECT_EQ(two, std::vector<AudioObjectID>(ids.begin(), ids.begin() + 2));
}

TEST_F(PulseModelTest, NamesCarryTheMonitorsTrimmedEldNameAndStayValidText) {
  // The ELD name is also its own attribute, and the sink's server name is
  // its stable name.
  CardReply card{3,
                 {{"hdmi-output-0", {{"device.product.name", "  DELL U2720Q\n "}}},
                  {"hdmi-output-1", {{"device.product.name", " \t\r\n "}}},
                  {"hdmi-output-2", {{"device.product.name", "LG HDR"}}}}};
  model.beginLoading();
  model.updateCard(card);
  for (const auto& s : {sink(10, "hdmi0", "HDA Intel PCH HDMI 1", 3, "hdmi-output-0"),
                        sink(11, "hdmi1", "HDA Intel PCH HDMI 2", 3, "hdmi-output-1"),
                        sink(12, "hdmi2", "LG HDR", 3, "hdmi-output-2"),              // already carries it
                        sink(13, "hdmi3", "HDMI \xFF\xFE Out", 99, "hdmi-output-0"),  // card unknown
                        sink(14, "huge", std::string(100000, 'x'))})
    model.updateSink(s);
  apply(model.finishLoading());

  const auto ids = list(kAudioHardwarePropertyDevices);
  ASSERT_EQ(ids.size(), 5u);
  EXPECT_EQ(text(ids[0], kAudioObjectPropertyName), "HDA Intel PCH HDMI 1 (DELL U2720Q)");
  EXPECT_EQ(text(ids[1], kAudioObjectPropertyName), "HDA Intel PCH HDMI 2");
  EXPECT_EQ(text(ids[2], kAudioObjectPropertyName), "LG HDR");
  EXPECT_EQ(text(ids[3], kAudioObjectPropertyName), "HDMI \xEF\xBF\xBD\xEF\xBF\xBD Out");
  EXPECT_EQ(text(ids[4], kAudioObjectPropertyName)->size(), kMaxTextBytes);
  EXPECT_EQ(text(ids[0], kAudioDevicePropertyMonitorName), "DELL U2720Q");
  EXPECT_EQ(text(ids[1], kAudioDevicePropertyMonitorName), std::nullopt);
  EXPECT_EQ(text(ids[2], kAudioDevicePropertyMonitorName), "LG HDR");
  EXPECT_EQ(text(ids[3], kAudioDevicePropertyMonitorName), std::nullopt);
  EXPECT_EQ(text(ids[0], kAudioDevicePropertyDeviceUID), "hdmi0");

  // The monitor's name arriving later (its ELD is read after the hot-plug)
  // renames the sink.
  sinksChanged = 0;
  card.ports[1].properties["device.product.name"] = "Aster U27";
  apply(model.updateCard(card));
  EXPECT_EQ(text(ids[1], kAudioObjectPropertyName), "HDA Intel PCH HDMI 2 (Aster U27)");
  EXPECT_EQ(sinksChanged, 1);
}

TEST_F(PulseModelTest, SinkSetChangesAreReportedAndReturningSinksGetNewIds) {
  connect({sink(0, "a", "Aster U27"), sink(1, "b", "Borel X")}, "a");
  EXPECT_EQ(sinksChanged, 1);
  const auto before = list(kAudioHardwarePropertyDevices);

  // The same sink reported again (a volume change) is no change.
  apply(model.updateSink(sink(1, "b", "Borel X")));
  EXPECT_EQ(sinksChanged, 1);

  apply(model.removeSink(1));
  EXPECT_EQ(sinksChanged, 2);
  EXPECT_EQ(list(kAudioHardwarePropertyDevices), std::vector<AudioObjectID>{before[0]});
  OSStatus status = 0;
  text(before[1], kAudioObjectPropertyName, &status);
  EXPECT_NE(status, kAudioHardwareNoError);

  apply(model.updateSink(sink(2, "b", "Borel X")));
  EXPECT_EQ(sinksChanged, 3);
  const auto after = list(kAudioHardwarePropertyDevices);
  ASSERT_EQ(after.size(), 2u);
  EXPECT_EQ(after[0], before[0]);
  EXPECT_NE(after[1], before[1]);

  apply(model.updateSink(sink(2, "b", "Borel X Pro")));
  EXPECT_EQ(sinksChanged, 4);
}

TEST_F(PulseModelTest, DefaultDeviceListenersFireOnceAndOnlyOnRealChange) {
  connect({sink(0, "a", "A"), sink(1, "b", "B")}, "a");
  listen(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice);
  const auto ids = list(kAudioHardwarePropertyDevices);

  apply(model.updateServer({"a"}));
  apply(model.updateSink(sink(1, "b", "B renamed")));
  apply(model.updateSinkInput(stream(5, false)));
  EXPECT_EQ(fired[kAudioHardwarePropertyDefaultOutputDevice], 0);

  apply(model.updateServer({"b"}));
  apply(model.updateServer({"b"}));
  EXPECT_EQ(fired[kAudioHardwarePropertyDefaultOutputDevice], 1);
  EXPECT_EQ(model.defaultSink(), ids[1]);

  // The default sink goes away: nothing until the server names the new one,
  // then exactly one notice.
  apply(model.removeSink(1));
  EXPECT_EQ(fired[kAudioHardwarePropertyDefaultOutputDevice], 1);
  apply(model.updateServer({"a"}));
  EXPECT_EQ(fired[kAudioHardwarePropertyDefaultOutputDevice], 2);
  EXPECT_EQ(model.defaultSink(), ids[0]);

  // A default naming a sink we have not heard of yet resolves when it comes.
  apply(model.updateServer({"c"}));
  EXPECT_EQ(fired[kAudioHardwarePropertyDefaultOutputDevice], 3);
  EXPECT_EQ(model.defaultSink(), 0u);
  apply(model.updateSink(sink(4, "c", "C")));
  EXPECT_EQ(fired[kAudioHardwarePropertyDefaultOutputDevice], 4);
  EXPECT_NE(model.defaultSink(), 0u);
}

TEST_F(PulseModelTest, StreamsAreProcessObjectsWithRunningFlagsAndListeners) {
  connect({sink(0, "a", "A"), sink(1, "b", "B")}, "a", {stream(20, true, {}, 0)});
  listen(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
  auto first = list(kAudioHardwarePropertyProcessObjectList);
  ASSERT_EQ(first.size(), 1u);
  const auto sinkIds = list(kAudioHardwarePropertyDevices);
  EXPECT_NE(first[0], sinkIds[0]);
  EXPECT_EQ(u32(first[0], kAudioProcessPropertyIsRunningOutput), 0u);

  EXPECT_EQ(u32(first[0], kAudioProcessPropertyOutputDevice), sinkIds[0]);

  auto queue = std::make_shared<test::ManualQueue>();
  int running = 0;
  ASSERT_EQ(model.addPropertyListenerBlock(first[0], global(kAudioProcessPropertyIsRunningOutput), queue,
                                           [&](std::uint32_t, const AudioObjectPropertyAddress*) { ++running; }),
            kAudioHardwareNoError);
  listen(first[0], kAudioProcessPropertyOutputDevice);

  // Uncorking fires the stream's listener on its queue; other updates do not.
  apply(model.updateSinkInput(stream(20, false, {}, 0)));
  apply(model.updateSinkInput(stream(20, false, {{"media.name", "tone"}}, 0)));
  EXPECT_EQ(running, 0);
  ASSERT_EQ(queue->pending(), 1u);
  queue->drain();
  EXPECT_EQ(running, 1);
  EXPECT_EQ(u32(first[0], kAudioProcessPropertyIsRunningOutput), 1u);
  apply(model.updateSinkInput(stream(20, true, {}, 0)));
  queue->drain();
  EXPECT_EQ(running, 2);
  EXPECT_EQ(fired[kAudioProcessPropertyOutputDevice], 0);

  // Played elsewhere: the device listener fires; a sink we do not know reads
  // as no device.
  apply(model.updateSinkInput(stream(20, true, {}, 1)));
  EXPECT_EQ(fired[kAudioProcessPropertyOutputDevice], 1);
  EXPECT_EQ(u32(first[0], kAudioProcessPropertyOutputDevice), sinkIds[1]);
  ASSERT_TRUE(model.streamMove(first[0], sinkIds[0]).has_value());
  EXPECT_EQ(model.streamMove(first[0], sinkIds[0])->stream, 20u);
  EXPECT_EQ(model.streamMove(first[0], sinkIds[0])->sink, 0u);
  EXPECT_FALSE(model.streamMove(first[0], first[0]).has_value());
  apply(model.updateSinkInput(stream(20, true, {}, 7)));
  EXPECT_EQ(u32(first[0], kAudioProcessPropertyOutputDevice), 0u);

  apply(model.updateSinkInput(stream(21, false)));
  EXPECT_EQ(fired[kAudioHardwarePropertyProcessObjectList], 1);
  const auto two = list(kAudioHardwarePropertyProcessObjectList);
  ASSERT_EQ(two.size(), 2u);

  apply(model.removeSinkInput(20));
  EXPECT_EQ(fired[kAudioHardwarePropertyProcessObjectList], 2);
  OSStatus status = 0;
  u32(first[0], kAudioProcessPropertyIsRunningOutput, &status);
  EXPECT_EQ(status, kAudioHardwareBadObjectError);

  // The server reusing an index is a new object with a new id.
  apply(model.updateSinkInput(stream(20, false, {}, 0)));
  const auto three = list(kAudioHardwarePropertyProcessObjectList);
  ASSERT_EQ(three.size(), 2u);
  EXPECT_EQ(std::set<AudioObjectID>({first[0], two[1], three[1]}).size(), 3u);
  apply(model.removeSinkInput(99));  // unknown: nothing
  EXPECT_EQ(fired[kAudioHardwarePropertyProcessObjectList], 3);
  queue->drain();
  EXPECT_EQ(running, 2);
}

TEST_F(PulseModelTest, PidsAndBundleIdsFromUntrustedProperties) {
  auto verified = stream(1, false, {{"application.process.id", "100"}, {"pipewire.sec.pid", "200"}});
  auto fromClient = stream(2, false, {{"application.process.id", "100"}});
  fromClient.client = 7;
  auto portal = stream(3, false,
                       {{"application.process.id", "300"},
                        {"pipewire.access.portal.app_id", "org.videolan.VLC"},
                        {"application.id", "vlc"}});
  auto own = stream(4, false, {{"application.process.id", "400"}, {"application.id", "org.mozilla.firefox"}});
  auto badVerified = stream(5, false, {{"application.process.id", "500"}, {"pipewire.sec.pid", "x"}});
  std::vector<SinkInputReply> streams{verified, fromClient, portal, own, badVerified};
  std::uint32_t index = 10;
  for (const char* bad : {"", "abc", "-5", "0", "2147483648", "99999999999999999999999", " 42", "42\n"}) {
    streams.push_back(stream(index++, false, {{"application.process.id", bad}, {"application.id", ""}}));
  }
  streams.push_back(stream(index++, false, {}));
  streams.push_back(stream(index++, false, {{"application.id", "\xFF"}}));

  model.beginLoading();
  model.updateClient({7, {{"pipewire.sec.pid", "700"}}});
  for (const auto& s : streams)
    model.updateSinkInput(s);
  apply(model.finishLoading());

  const auto ids = list(kAudioHardwarePropertyProcessObjectList);
  ASSERT_EQ(ids.size(), streams.size());
  EXPECT_EQ(pid(ids[0]), 200);
  EXPECT_EQ(pid(ids[1]), 700);
  EXPECT_EQ(pid(ids[2]), 300);
  EXPECT_EQ(pid(ids[4]), 500);
  EXPECT_EQ(text(ids[2], kAudioProcessPropertyBundleID), "org.videolan.VLC");
  EXPECT_EQ(text(ids[3], kAudioProcessPropertyBundleID), "org.mozilla.firefox");
  EXPECT_EQ(text(ids[0], kAudioProcessPropertyBundleID), std::nullopt);
  for (std::size_t i = 5; i < ids.size(); ++i) {
    EXPECT_EQ(pid(ids[i]), std::nullopt) << i;
    OSStatus status = 1;
    const auto bundle = text(ids[i], kAudioProcessPropertyBundleID, &status);
    EXPECT_EQ(status, kAudioHardwareNoError);
    if (i + 1 < ids.size()) {
      EXPECT_EQ(bundle, std::nullopt) << i;
    }
  }
  EXPECT_EQ(text(ids.back(), kAudioProcessPropertyBundleID), "\xEF\xBF\xBD");

  // The client's verified pid goes with the client.
  apply(model.removeClient(7));
  EXPECT_EQ(pid(ids[1]), 100);

  // Under pipewire-pulse every client's "verified" pid is the server's own.
  apply(model.updateClient({8, {{"client.api", "pipewire-pulse"}, {"pipewire.sec.pid", "900"}}}));
  auto viaPipewire = stream(40, false, {{"application.process.id", "800"}});
  viaPipewire.client = 8;
  apply(model.updateSinkInput(viaPipewire));
  EXPECT_EQ(pid(list(kAudioHardwarePropertyProcessObjectList).back()), 800);
}

TEST_F(PulseModelTest, SandboxedStreamsPidsGoThroughTheResolver) {
  std::vector<std::pair<std::optional<Pid>, std::string>> asked;
  model.setStreamPidResolver([&](std::optional<Pid> claimed, const std::string& appId) -> std::optional<Pid> {
    asked.emplace_back(claimed, appId);
    if (appId == "org.unknown.App") return std::nullopt;
    // A resolver that reads the model again must not deadlock.
    EXPECT_TRUE(model.isConnected());
    return 4000 + claimed.value_or(0);
  });
  auto onStream = stream(1, false, {{"application.process.id", "2"}, {"pipewire.access.portal.app_id", "org.a.A"}});
  auto onClient = stream(2, false, {{"application.process.id", "3"}, {"application.id", "self.claimed"}});
  onClient.client = 9;
  auto noPid = stream(3, false, {{"pipewire.access.portal.app_id", "org.a.A"}});
  auto unknown =
      stream(4, false, {{"application.process.id", "5"}, {"pipewire.access.portal.app_id", "org.unknown.App"}});
  auto host = stream(5, false, {{"application.process.id", "6"}, {"application.id", "org.a.A"}});
  model.beginLoading();
  model.updateClient({9, {{"pipewire.access.portal.app_id", "org.b.B"}}});
  for (const auto& s : {onStream, onClient, noPid, unknown, host})
    model.updateSinkInput(s);
  apply(model.finishLoading());

  const auto ids = list(kAudioHardwarePropertyProcessObjectList);
  ASSERT_EQ(ids.size(), 5u);
  EXPECT_EQ(pid(ids[0]), 4002);
  EXPECT_EQ(pid(ids[1]), 4003);
  EXPECT_EQ(text(ids[1], kAudioProcessPropertyBundleID), "org.b.B");  // the portal's word beats the client's
  EXPECT_EQ(pid(ids[2]), 4000);
  EXPECT_EQ(pid(ids[3]), 5);  // nothing found: the claim stands
  EXPECT_EQ(pid(ids[4]), 6);  // an id the application gives itself proves nothing
  EXPECT_EQ(asked, (std::vector<std::pair<std::optional<Pid>, std::string>>{
                       {2, "org.a.A"}, {3, "org.b.B"}, {std::nullopt, "org.a.A"}, {5, "org.unknown.App"}}));
}

TEST_F(PulseModelTest, ReconnectKeepsListenersAndTellsThemOnce) {
  connect({sink(0, "a", "A"), sink(1, "b", "B")}, "b", {stream(3, false)});
  listen(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice);
  listen(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
  const auto sinks = list(kAudioHardwarePropertyDevices);
  const auto streams = list(kAudioHardwarePropertyProcessObjectList);
  listen(streams[0], kAudioProcessPropertyIsRunningOutput);
  sinksChanged = 0;

  apply(model.disconnect());
  EXPECT_FALSE(model.isConnected());
  EXPECT_EQ(sinksChanged, 1);
  EXPECT_TRUE(fired.empty());
  EXPECT_TRUE(list(kAudioHardwarePropertyDevices).empty());
  EXPECT_TRUE(list(kAudioHardwarePropertyProcessObjectList).empty());
  OSStatus status = 1;
  EXPECT_EQ(u32(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice, &status), 0u);
  EXPECT_EQ(status, kAudioHardwareNoError);
  EXPECT_EQ(model.sinkName(sinks[0]), std::nullopt);
  u32(sinks[0], kAudioDevicePropertyTransportType, &status);
  EXPECT_NE(status, kAudioHardwareNoError);
  // Listeners can still be added to the system object meanwhile.
  listen(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);

  // The restarted server lists the same sinks: new objects with new ids, so
  // the old default is seen gone.
  model.beginLoading();
  model.updateServer({"b"});
  model.updateSink(sink(0, "a", "A"));
  model.updateSink(sink(1, "b", "B"));
  model.updateSinkInput(stream(3, false));
  EXPECT_FALSE(model.isConnected());
  EXPECT_TRUE(fired.empty());
  apply(model.finishLoading());

  EXPECT_EQ(fired[kAudioHardwarePropertyDefaultOutputDevice], 1);
  EXPECT_EQ(fired[kAudioHardwarePropertyProcessObjectList], 2);  // two listeners, once each
  EXPECT_EQ(fired[kAudioProcessPropertyIsRunningOutput], 0);
  EXPECT_EQ(sinksChanged, 2);
  const auto again = list(kAudioHardwarePropertyDevices);
  ASSERT_EQ(again.size(), 2u);
  const auto newStreams = list(kAudioHardwarePropertyProcessObjectList);
  ASSERT_EQ(newStreams.size(), 1u);
  EXPECT_EQ(std::set<AudioObjectID>({sinks[0], sinks[1], streams[0], again[0], again[1], newStreams[0]}).size(), 6u);
  EXPECT_EQ(model.defaultSink(), again[1]);
  EXPECT_EQ(text(again[0], kAudioObjectPropertyName), "A");

  // Connected again: changes are reported as usual.
  apply(model.updateServer({"a"}));
  EXPECT_EQ(fired[kAudioHardwarePropertyDefaultOutputDevice], 2);
}

TEST_F(PulseModelTest, BadObjectsAndAddressesFail) {
  connect({sink(0, "a", "A")}, "a", {stream(1, false)});
  const auto device = list(kAudioHardwarePropertyDevices)[0];
  const auto process = list(kAudioHardwarePropertyProcessObjectList)[0];
  auto block = [](std::uint32_t, const AudioObjectPropertyAddress*) {};
  for (AudioObjectID object : {kAudioObjectUnknown, AudioObjectID{12345}}) {
    std::uint32_t size = 4;
    std::uint32_t value = 0;
    AudioStringRef ref;
    EXPECT_NE(model.getPropertyDataSize(object, global(kAudioObjectPropertyName), size), kAudioHardwareNoError);
    EXPECT_NE(model.getPropertyData(object, global(kAudioDevicePropertyDeviceIsAlive), size, &value),
              kAudioHardwareNoError);
    size = kAudioStringRefSize;
    EXPECT_NE(model.getPropertyString(object, global(kAudioObjectPropertyName), size, ref), kAudioHardwareNoError);
    EXPECT_NE(model.addPropertyListenerBlock(object, global(kAudioProcessPropertyIsRunningOutput), nullptr, block),
              kAudioHardwareNoError);
  }
  // Properties the object does not have.
  const std::pair<AudioObjectID, AudioObjectPropertySelector> foreign[] = {
      {device, kAudioProcessPropertyIsRunningOutput},
      {process, kAudioHardwarePropertyDefaultOutputDevice},
      {kAudioObjectSystemObject, kAudioDevicePropertyDeviceIsAlive}};
  for (const auto& [object, selector] : foreign)
    EXPECT_NE(model.addPropertyListenerBlock(object, global(selector), nullptr, block), kAudioHardwareNoError)
        << object;
  EXPECT_NE(model.addPropertyListenerBlock(kAudioObjectSystemObject, global(kAudioHardwarePropertyDevices), nullptr,
                                           AudioObjectPropertyListenerBlock{}),
            kAudioHardwareNoError);
  // Too small a buffer for a value.
  std::uint32_t value = 0;
  std::uint32_t size = 2;
  EXPECT_NE(model.getPropertyData(device, global(kAudioDevicePropertyTransportType), size, &value),
            kAudioHardwareNoError);
}

}  // namespace
}  // namespace velmora::linuxos::pulse
