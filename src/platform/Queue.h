#pragma once

// Serial queues, delayed work, repeating timers and the clock: all of
// concurrency and time the core needs. Two implementations: real ones on asio threads and a
// virtual-time scheduler for tests and velmora-sim.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "platform/Types.h"

namespace velmora {

using Duration = std::chrono::nanoseconds;

// A delayed block; cancelling one that has not started means it never runs.
class WorkItem {
 public:
  virtual ~WorkItem() = default;
  virtual void cancel() = 0;
  virtual bool isCancelled() const = 0;
};

// A repeating timer. Cancelling stops further expiries; so does dropping the
// last reference to it.
class RepeatingTimer {
 public:
  virtual ~RepeatingTimer() = default;
  virtual void cancel() = 0;
};

class SerialQueue {
 public:
  virtual ~SerialQueue() = default;

  virtual const std::string& label() const = 0;

  // Blocks run one at a time, in the order they were submitted.
  virtual void async(std::function<void()> block) = 0;

  virtual std::shared_ptr<WorkItem> asyncAfter(Duration delay, std::function<void()> block) = 0;

  virtual std::shared_ptr<RepeatingTimer> makeTimer(Duration firstDeadline, Duration interval, Duration leeway,
                                                    std::function<void()> handler) = 0;
};

// Makes a serial queue with the given label (e.g. "co.quennet.velmora.routing").
using SerialQueueFactory = std::function<std::shared_ptr<SerialQueue>(const std::string& label)>;

// Durations (grace periods, quiet windows) are measured on now() only: the
// wall clock jumps when NTP, the user or a resume from sleep sets it.
class Clock {
 public:
  virtual ~Clock() = default;
  // Seconds on a clock that never steps, from an arbitrary origin.
  virtual Timestamp now() const = 0;
  // Seconds since the Unix epoch on the wall clock; may jump either way. For
  // telling people when something happened, never for durations.
  virtual double wallTime() const = 0;
};

}  // namespace velmora
