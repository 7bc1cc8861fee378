#include "platform/linux/LinuxPlatform.h"

#include "platform/linux/common/ChangeCoalescer.h"
#include "platform/linux/proc/FlatpakInstances.h"
#include "platform/linux/proc/ProcApplications.h"
#include "platform/linux/pulse/PulseAudioObjects.h"
#include "platform/linux/queue/AsioQueue.h"

namespace velmora::linuxos {

LinuxDesktop makeLinuxDesktop(std::shared_ptr<SerialQueue> mainQueue, LinuxPlatformOptions options) {
  LinuxDesktop desktop;
  Platform& platform = desktop.platform;
  platform.mainQueue = std::move(mainQueue);
  // /proc walks and X round trips, kept off the caller's (the tray's) thread.
  platform.lookupQueue = makeAsioQueue("co.quennet.velmora.lookups");
  platform.makeSerialQueue = [](const std::string& label) { return makeAsioQueue(label); };
  platform.clock = makeSystemClock();

  // Display changes from the session and changes of the set of sinks both
  // mean "pair displays and speakers again"; one coalescer turns a burst of
  // either into one notice.
  auto changes = ChangeCoalescer::make(makeAsioQueue("co.quennet.velmora.display-changes"));

  auto audio = makePulseAudioObjects();
  audio->setSinksChangedHandler([weak = std::weak_ptr<ChangeCoalescer>(changes)] {
    if (auto c = weak.lock()) c->trigger();
  });
  // Windows carry a Flatpak application's host pid; its streams may carry
  // the pid inside the sandbox.
  audio->setStreamPidResolver(
      [instances = std::make_shared<FlatpakInstances>()](std::optional<Pid> claimed, const std::string& appId) {
        return instances->hostPid(claimed, appId);
      });
  platform.audio = audio;

  const SessionChoice choice = chooseSession(options.env);
  const Logger log(kVelmoraSubsystem, "Session");
  for (const auto& line : choice.logLines)
    log.info("%s", {line});
  desktop.session = choice.kind;

  SessionContext context{changes, options.env, options.tellUser};
  SessionDesktop session = makeSessionDesktop(choice.kind, context);
  platform.screens = session.screens;
  platform.windows = session.windows;
  desktop.sessionLine = [describe = session.describe, kind = choice.kind] {
    return "Session: " + (describe ? describe() : std::string(sessionName(kind)));
  };

  ProcApplicationsOptions procOptions;
  procOptions.windowOwners = session.windowOwners;
  platform.applications = std::make_shared<ProcApplications>(std::move(procOptions));
  return desktop;
}

Platform makeLinuxPlatform(std::shared_ptr<SerialQueue> mainQueue) {
  return makeLinuxDesktop(std::move(mainQueue)).platform;
}

}  // namespace velmora::linuxos
