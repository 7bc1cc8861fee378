#pragma once

// Waits between attempts to reach a compositor that went away: short at
// first, so a restart is noticed quickly, then longer, so a compositor that
// stays away costs nothing.

#include <algorithm>
#include <chrono>

namespace velmora::linuxos {

class Backoff {
 public:
  static constexpr std::chrono::milliseconds kFirst{250};
  static constexpr std::chrono::milliseconds kLongest{30000};

  std::chrono::milliseconds next() {
    const auto wait = current_;
    current_ = std::min(current_ * 2, kLongest);
    return wait;
  }
  void reset() { current_ = kFirst; }

 private:
  std::chrono::milliseconds current_ = kFirst;
};

}  // namespace velmora::linuxos
