#pragma once

// Replies from the X server, awaited by a back end's worker thread without
// ever blocking it past a deadline or a stop: xcb's own waits know neither.

#include <xcb/xcb.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <optional>

#include "platform/linux/common/WorkerThread.h"
#include "platform/linux/x11/WindowRules.h"

namespace velmora::linuxos {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

class XcbReplies {
 public:
  // A server that takes longer than this to answer is taken for hung.
  static constexpr std::chrono::seconds kReplyLimit{5};

  XcbReplies(xcb_connection_t* c, WorkerThread& worker) : c_(c), worker_(worker) {}

  // The reply to a request, or null for an error; also null once the
  // connection broke, the server hung or the thread was told to stop, after
  // which failed() is true and every later wait gives null at once.
  template <typename T>
  XcbReply<T> take(unsigned int sequence) {
    return XcbReply<T>(static_cast<T*>(await(sequence)));
  }
  bool failed() const { return failed_; }

  // GetProperty of any type; none for an absent property or an error.
  xcb_get_property_cookie_t askProperty(xcb_window_t window, xcb_atom_t atom, std::uint32_t longs);
  std::optional<PropertyReply> takeProperty(xcb_get_property_cookie_t cookie);

 private:
  void* await(unsigned int sequence);

  xcb_connection_t* c_;
  WorkerThread& worker_;
  bool failed_ = false;
};

}  // namespace velmora::linuxos
