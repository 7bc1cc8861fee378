#include "platform/linux/sway/SwayIpc.h"

#include <cstring>

namespace velmora::linuxos {

namespace {

constexpr std::string_view kMagic = "i3-ipc";
constexpr std::size_t kHeader = kMagic.size() + 8;

}  // namespace

std::string encodeSwayMessage(std::uint32_t type, std::string_view payload) {
  std::string out(kMagic);
  const auto length = static_cast<std::uint32_t>(payload.size());
  out.append(reinterpret_cast<const char*>(&length), 4);
  out.append(reinterpret_cast<const char*>(&type), 4);
  out.append(payload);
  return out;
}

void SwayFrameReader::feed(std::string_view bytes) {
  if (broken_) return;
  if (consumed_ > 0 && consumed_ == buffer_.size()) {
    buffer_.clear();
    consumed_ = 0;
  }
  buffer_.append(bytes);
}

std::optional<SwayFrame> SwayFrameReader::next() {
  if (broken_ || pending() < kHeader) return std::nullopt;
  const char* head = buffer_.data() + consumed_;
  if (std::string_view(head, kMagic.size()) != kMagic) {
    broken_ = true;
    return std::nullopt;
  }
  std::uint32_t length = 0;
  std::uint32_t type = 0;
  std::memcpy(&length, head + kMagic.size(), 4);
  std::memcpy(&type, head + kMagic.size() + 4, 4);
  if (length > kMaxPayload) {
    broken_ = true;
    return std::nullopt;
  }
  if (pending() < kHeader + length) return std::nullopt;
  SwayFrame frame{type, std::string(head + kHeader, length)};
  consumed_ += kHeader + length;
  // Keep the buffer from growing without bound on a long-lived connection.
  if (consumed_ > (1u << 16) && consumed_ * 2 > buffer_.size()) {
    buffer_.erase(0, consumed_);
    consumed_ = 0;
  }
  return frame;
}

}  // namespace velmora::linuxos
