#pragma once

// The wait of a back end's thread that serves an sd-bus connection: for the
// bus, for the nearest of the bus's own call deadlines and the back end's,
// or for the thread to be told to stop.

#include <optional>

#include "platform/linux/common/WorkerThread.h"

struct sd_bus;

namespace velmora::linuxos {

// Handles everything the connection has ready; 0, or the negative error
// once the connection is broken.
int processBus(sd_bus* bus);

// When the bus next needs processing for its own sake (a call's reply time
// running out), as a steady-clock time; none when it has no such deadline.
std::optional<WorkerThread::Clock::time_point> busDeadline(sd_bus* bus);

// Waits for the bus, the earlier of its deadline and the given one, or stop.
WorkerThread::Wake waitForBus(WorkerThread& worker, sd_bus* bus,
                              std::optional<WorkerThread::Clock::time_point> deadline);

}  // namespace velmora::linuxos
