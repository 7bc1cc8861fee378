#pragma once

// libpulse's info records turned into the model's plain replies.

#include <pulse/introspect.h>
#include <pulse/proplist.h>

#include "platform/linux/pulse/PulseModel.h"

namespace velmora::linuxos::pulse {

Properties properties(const pa_proplist* list);
SinkReply sinkReply(const pa_sink_info& info);
SinkInputReply sinkInputReply(const pa_sink_input_info& info);
ServerReply serverReply(const pa_server_info& info);
CardReply cardReply(const pa_card_info& info);
ClientReply clientReply(const pa_client_info& info);

}  // namespace velmora::linuxos::pulse
