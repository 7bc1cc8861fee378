#pragma once

// A wait for what a bus peer or a server does on its own thread or in its own
// process, where the test has nothing to be told by.

#include <chrono>
#include <functional>
#include <thread>

namespace velmora::test {

// Asks condition every 20 ms for at most limit; its last answer.
inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return condition();
}

}  // namespace velmora::test
