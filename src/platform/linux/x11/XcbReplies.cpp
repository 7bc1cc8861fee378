#include "platform/linux/x11/XcbReplies.h"

#include <xcb/xcbext.h>

namespace velmora::linuxos {

void* XcbReplies::await(unsigned int sequence) {
  if (failed_) {
    xcb_discard_reply(c_, sequence);
    return nullptr;
  }
  xcb_flush(c_);
  const auto deadline = WorkerThread::Clock::now() + kReplyLimit;
  pollfd fd{xcb_get_file_descriptor(c_), POLLIN, 0};
  for (;;) {
    void* reply = nullptr;
    xcb_generic_error_t* error = nullptr;
    if (xcb_poll_for_reply(c_, sequence, &reply, &error)) {
      std::free(error);
      return reply;
    }
    if (xcb_connection_has_error(c_)) break;
    const auto wake = worker_.wait({&fd, 1}, deadline);
    if (wake == WorkerThread::Wake::stop || wake == WorkerThread::Wake::timeout) break;
  }
  failed_ = true;
  xcb_discard_reply(c_, sequence);
  return nullptr;
}

xcb_get_property_cookie_t XcbReplies::askProperty(xcb_window_t window, xcb_atom_t atom, std::uint32_t longs) {
  return xcb_get_property(c_, 0, window, atom, XCB_GET_PROPERTY_TYPE_ANY, 0, longs);
}

std::optional<PropertyReply> XcbReplies::takeProperty(xcb_get_property_cookie_t cookie) {
  auto reply = take<xcb_get_property_reply_t>(cookie.sequence);
  if (!reply || reply->type == XCB_ATOM_NONE) return std::nullopt;
  const auto* bytes = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
  const int length = xcb_get_property_value_length(reply.get());
  PropertyReply property{reply->type, reply->format, {}};
  if (bytes && length > 0) property.data.assign(bytes, bytes + length);
  return property;
}

}  // namespace velmora::linuxos
