#pragma once

// sway's IPC framing (the i3 one): "i3-ipc", payload length and message type
// as 32-bit integers in the host's byte order, then the JSON payload. Events
// carry the high bit in their type.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/linux/common/CompositorJson.h"

namespace velmora::linuxos {

enum class SwayRequest : std::uint32_t { subscribe = 2, getTree = 4, getVersion = 7 };

inline constexpr std::uint32_t kSwayEventBit = 0x80000000u;
inline constexpr std::uint32_t kSwayWorkspaceEvent = kSwayEventBit | 0;
inline constexpr std::uint32_t kSwayOutputEvent = kSwayEventBit | 1;
inline constexpr std::uint32_t kSwayWindowEvent = kSwayEventBit | 3;
inline constexpr std::uint32_t kSwayShutdownEvent = kSwayEventBit | 6;

std::string encodeSwayMessage(std::uint32_t type, std::string_view payload);
inline std::string encodeSwayMessage(SwayRequest type, std::string_view payload) {
  return encodeSwayMessage(static_cast<std::uint32_t>(type), payload);
}

struct SwayFrame {
  std::uint32_t type = 0;
  std::string payload;
};

// Cuts a byte stream into frames. A stream that does not start a frame with
// the magic, or announces a payload past the limit, is broken for good.
class SwayFrameReader {
 public:
  static constexpr std::uint32_t kMaxPayload = kMaxCompositorJsonBytes;

  void feed(std::string_view bytes);
  std::optional<SwayFrame> next();
  bool broken() const { return broken_; }
  // Bytes of an unfinished frame.
  std::size_t pending() const { return buffer_.size() - consumed_; }

 private:
  std::string buffer_;
  std::size_t consumed_ = 0;
  bool broken_ = false;
};

}  // namespace velmora::linuxos
