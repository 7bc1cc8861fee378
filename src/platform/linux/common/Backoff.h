#pragma once

// Waits between attempts to reach a compositor or server that went away:
// short at first, so a restart is noticed quickly, then longer, so one that
// stays away costs nothing. Every back end waits by this one schedule.

#include <algorithm>
#include <chrono>

namespace velmora::linuxos {

class Backoff {
 public:
  static constexpr std::chrono::milliseconds kFirst{250};
  static constexpr std::chrono::milliseconds kLongest{30000};

  // Tests pass shorter waits.
  explicit Backoff(std::chrono::milliseconds first = kFirst, std::chrono::milliseconds longest = kLongest)
      : first_(first), longest_(std::max(first, longest)), current_(first) {}

  std::chrono::milliseconds next() {
    const auto wait = current_;
    current_ = std::min(current_ * 2, longest_);
    return wait;
  }
  void reset() { current_ = first_; }

 private:
  std::chrono::milliseconds first_;
  std::chrono::milliseconds longest_;
  std::chrono::milliseconds current_;
};

}  // namespace velmora::linuxos
