#include "platform/linux/common/BusWait.h"

#include <systemd/sd-bus.h>

#include <cstdint>

namespace velmora::linuxos {

using Clock = WorkerThread::Clock;

int processBus(sd_bus* bus) {
  int r = 0;
  while ((r = sd_bus_process(bus, nullptr)) > 0) {
  }
  return r < 0 ? r : 0;
}

std::optional<Clock::time_point> busDeadline(sd_bus* bus) {
  std::uint64_t usec = 0;
  if (sd_bus_get_timeout(bus, &usec) <= 0 || usec == UINT64_MAX) return std::nullopt;
  // sd-bus counts in CLOCK_MONOTONIC microseconds, the clock steady_clock
  // reads on Linux.
  return Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::microseconds(usec)));
}

WorkerThread::Wake waitForBus(WorkerThread& worker, sd_bus* bus, std::optional<Clock::time_point> deadline) {
  if (const auto own = busDeadline(bus); own && (!deadline || *own < *deadline)) deadline = own;
  const int events = sd_bus_get_events(bus);
  pollfd fd{sd_bus_get_fd(bus), static_cast<short>(events < 0 ? 0 : events), 0};
  return worker.wait({&fd, 1}, deadline);
}

}  // namespace velmora::linuxos
