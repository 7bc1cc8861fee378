#include "platform/linux/x11/X11Monitors.h"

#include <xcb/randr.h>

#include <string>

#include "platform/linux/x11/ScreenRules.h"

namespace velmora::linuxos {

std::vector<PlatformScreen> readMonitors(xcb_connection_t* c, XcbReplies& replies, xcb_window_t root,
                                         xcb_atom_t edidAtom) {
  auto monitors = replies.take<xcb_randr_get_monitors_reply_t>(xcb_randr_get_monitors(c, root, 1).sequence);
  if (!monitors) return {};

  struct Pending {
    MonitorReplies replies;
    xcb_get_atom_name_cookie_t name;
    std::optional<xcb_randr_get_output_property_cookie_t> edid;
    std::optional<xcb_randr_get_output_info_cookie_t> output;
  };
  std::vector<Pending> pending;
  for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.get()); it.rem; xcb_randr_monitor_info_next(&it)) {
    const xcb_randr_monitor_info_t* info = it.data;
    Pending p;
    p.replies.nameAtom = info->name;
    p.replies.x = info->x;
    p.replies.y = info->y;
    p.replies.width = info->width;
    p.replies.height = info->height;
    const xcb_randr_output_t* outputs = xcb_randr_monitor_info_outputs(info);
    p.replies.outputs.assign(outputs, outputs + xcb_randr_monitor_info_outputs_length(info));
    p.name = xcb_get_atom_name(c, info->name);
    // 128 longs: the base block and three extensions are more than a name needs.
    if (!p.replies.outputs.empty() && p.replies.outputs.front() != XCB_NONE) {
      p.edid = xcb_randr_get_output_property(c, p.replies.outputs.front(), edidAtom, XCB_GET_PROPERTY_TYPE_ANY, 0, 128,
                                             0, 0);
      p.output = xcb_randr_get_output_info(c, p.replies.outputs.front(), XCB_CURRENT_TIME);
    }
    pending.push_back(std::move(p));
  }

  std::vector<PlatformScreen> screens;
  for (Pending& p : pending) {
    if (auto name = replies.take<xcb_get_atom_name_reply_t>(p.name.sequence))
      p.replies.name = std::string(xcb_get_atom_name_name(name.get()), xcb_get_atom_name_name_length(name.get()));
    if (p.edid) {
      auto edid = replies.take<xcb_randr_get_output_property_reply_t>(p.edid->sequence);
      if (edid && edid->format == 8) {
        const std::uint8_t* data = xcb_randr_get_output_property_data(edid.get());
        const int length = xcb_randr_get_output_property_data_length(edid.get());
        if (data && length > 0) p.replies.firstOutputEdid = std::vector<std::uint8_t>(data, data + length);
      }
    }
    if (p.output) {
      if (auto info = replies.take<xcb_randr_get_output_info_reply_t>(p.output->sequence)) {
        const auto* text = reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get()));
        const int length = xcb_randr_get_output_info_name_length(info.get());
        if (text && length > 0) p.replies.firstOutputName = std::string(text, static_cast<std::size_t>(length));
      }
    }
    screens.push_back(screenFromMonitor(p.replies));
  }
  if (replies.failed()) return {};
  return screens;
}

}  // namespace velmora::linuxos
