#include "platform/linux/pulse/PulseReplies.h"

#include <pulse/def.h>
#include <pulse/version.h>

namespace velmora::linuxos::pulse {
namespace {

// Enough for any real stream; a client that stuffs its proplist gets no more.
constexpr std::size_t kMaxProperties = 256;

std::optional<std::uint32_t> index(std::uint32_t value) {
  return value == PA_INVALID_INDEX ? std::nullopt : std::optional(value);
}

PortType portType([[maybe_unused]] const pa_sink_port_info& port) {
#if PA_CHECK_VERSION(14, 0, 0)
  switch (port.type) {
    case PA_DEVICE_PORT_TYPE_HDMI:
      return PortType::hdmi;
    case PA_DEVICE_PORT_TYPE_USB:
      return PortType::usb;
    case PA_DEVICE_PORT_TYPE_BLUETOOTH:
      return PortType::bluetooth;
    case PA_DEVICE_PORT_TYPE_SPEAKER:
      return PortType::builtIn;
    default:
      return PortType::unknown;
  }
#else
  return PortType::unknown;
#endif
}

}  // namespace

Properties properties(const pa_proplist* list) {
  Properties out;
  if (!list) return out;
  void* state = nullptr;
  while (const char* key = pa_proplist_iterate(list, &state)) {
    if (out.size() >= kMaxProperties) break;
    // Null for values that are not text.
    if (const char* value = pa_proplist_gets(list, key)) out.emplace(key, value);
  }
  return out;
}

SinkReply sinkReply(const pa_sink_info& info) {
  SinkReply reply;
  reply.index = info.index;
  reply.name = info.name ? info.name : "";
  if (info.description) reply.description = info.description;
  reply.card = index(info.card);
  if (const pa_sink_port_info* port = info.active_port) {
    if (port->name) reply.activePort = port->name;
    reply.activePortDescription = port->description ? port->description : "";
    reply.activePortType = portType(*port);
    reply.activePortUnavailable = port->available == PA_PORT_AVAILABLE_NO;
  }
  reply.channels = info.channel_map.channels;
  reply.properties = properties(info.proplist);
  return reply;
}

SinkInputReply sinkInputReply(const pa_sink_input_info& info) {
  SinkInputReply reply;
  reply.index = info.index;
  reply.client = index(info.client);
  reply.corked = info.corked != 0;
  reply.properties = properties(info.proplist);
  reply.sink = index(info.sink);
  return reply;
}

ServerReply serverReply(const pa_server_info& info) {
  ServerReply reply;
  if (info.default_sink_name) reply.defaultSinkName = info.default_sink_name;
  return reply;
}

CardReply cardReply(const pa_card_info& info) {
  CardReply reply;
  reply.index = info.index;
  for (std::uint32_t i = 0; info.ports && i < info.n_ports; ++i) {
    const pa_card_port_info* port = info.ports[i];
    if (!port || !port->name) continue;
    reply.ports.push_back(CardPortReply{port->name, properties(port->proplist)});
  }
  return reply;
}

ClientReply clientReply(const pa_client_info& info) {
  return ClientReply{info.index, properties(info.proplist)};
}

}  // namespace velmora::linuxos::pulse
