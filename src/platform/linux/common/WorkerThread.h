#pragma once

// A back end's own thread. Every wait it makes, on its descriptors, timers or
// the back-off between connection attempts, also watches one stop
// descriptor, so stopping it never waits for a compositor that hangs.

#include <poll.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <thread>

#include "platform/linux/common/Backoff.h"

namespace velmora::linuxos {

// Names the calling thread; the kernel keeps the first 15 bytes.
void nameThisThread(std::string_view name);

class WorkerThread {
 public:
  using Clock = std::chrono::steady_clock;
  enum class Wake { ready, timeout, nudged, stop };

  WorkerThread() = default;
  ~WorkerThread();
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Runs body on a new thread named name (as `top -H` shows it), after the
  // thread-start hook. False, and no thread, when the stop descriptor cannot
  // be made: a thread that could not be stopped is not started.
  bool start(std::string_view name, std::function<void()> body);
  // Wakes the thread's waits and joins it; the owner calls it before the
  // state the body uses goes away. Safe to call more than once.
  void stop();
  bool stopping() const { return stopping_.load(); }
  // Ends the thread's current or next wait with nudged; from any thread.
  void nudge();
  bool running() const { return thread_.joinable(); }

  // Waits until one of fds is ready (their revents say which), the deadline
  // passes (none: no limit), the thread is nudged or told to stop. A failing
  // poll counts as a timeout after a short pause, so no caller spins.
  Wake wait(std::span<pollfd> fds, std::optional<Clock::time_point> deadline);
  // False when told to stop before time has passed.
  bool sleepFor(std::chrono::milliseconds time);

  // Calls attempt until the thread is told to stop, waiting between attempts
  // as backoff says; an attempt returns whether it connected, and after one
  // that did the waits start short again.
  void keepConnecting(Backoff backoff, const std::function<bool()>& attempt);

 private:
  int stopFd_ = -1;
  int nudgeFd_ = -1;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace velmora::linuxos
