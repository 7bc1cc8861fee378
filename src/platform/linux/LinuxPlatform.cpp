#include "platform/linux/LinuxPlatform.h"

#include "platform/linux/proc/ProcApplications.h"
#include "platform/linux/pulse/PulseAudioObjects.h"
#include "platform/linux/queue/AsioQueue.h"
#include "platform/linux/x11/ChangeCoalescer.h"
#include "platform/linux/x11/X11Desktop.h"

namespace velmora::linuxos {

Platform makeLinuxPlatform(std::shared_ptr<SerialQueue> mainQueue) {
  Platform platform;
  platform.mainQueue = std::move(mainQueue);
  platform.makeSerialQueue = [](const std::string& label) { return makeAsioQueue(label); };
  platform.clock = makeWallClock();

  // RandR events and changes of the set of sinks both mean "pair displays and
  // speakers again"; one coalescer turns a burst of either into one notice.
  auto changes = ChangeCoalescer::make(makeAsioQueue("co.quennet.velmora.display-changes"));

  auto audio = makePulseAudioObjects();
  audio->setSinksChangedHandler([weak = std::weak_ptr<ChangeCoalescer>(changes)] {
    if (auto c = weak.lock()) c->trigger();
  });
  platform.audio = audio;

  auto desktop = std::make_shared<X11Desktop>(changes);
  platform.screens = desktop;
  platform.windows = desktop;

  ProcApplicationsOptions options;
  options.windowOwners = [weak = std::weak_ptr<X11Desktop>(desktop)]() -> WindowOwners {
    auto d = weak.lock();
    if (!d) return {};
    return d->client().windowOwners().value_or(WindowOwners{});
  };
  platform.applications = std::make_shared<ProcApplications>(std::move(options));
  return platform;
}

}  // namespace velmora::linuxos
