#include "platform/sim/SimDesktop.h"

namespace velmora::sim {

SimDesktop::SimDesktop(const Scenario& scenario)
    : scheduler_(VirtualScheduler::create()),
      mainQueue_(scheduler_->makeQueue("main")),
      audio_(std::make_shared<SimAudio>()),
      screens_(std::make_shared<SimScreens>(scenario.displays)),
      windows_(std::make_shared<SimWindows>(scenario.windows)),
      applications_(std::make_shared<SimApplications>()) {
  for (const auto& device : scenario.devices)
    audio_->addDevice(device);
  audio_->setInitialDefault(scenario.defaultDevice);
  for (const auto& stream : scenario.streams)
    audio_->addStream(stream);
  for (const auto& app : scenario.apps)
    applications_->launch(app);
  for (const auto& process : scenario.processes) {
    applications_->addProcess(process.pid, process.parent);
    parents_[process.pid] = process.parent;
  }
}

Platform SimDesktop::platform() const {
  Platform p;
  p.audio = audio_;
  p.screens = screens_;
  p.windows = windows_;
  p.applications = applications_;
  p.mainQueue = mainQueue_;
  p.makeSerialQueue = scheduler_->queueFactory();
  p.clock = scheduler_->clock();
  return p;
}

void SimDesktop::apply(const ScenarioEvent& e) {
  using K = ScenarioEvent::Kind;
  switch (e.kind) {
    case K::moveWindow:
      windows_->move(e.window, e.bounds);
      break;
    case K::raiseWindow:
      windows_->raise(e.window);
      break;
    case K::openWindow:
      windows_->open(e.newWindow);
      break;
    case K::closeWindow:
      windows_->close(e.window);
      break;
    case K::setRunning:
      audio_->setRunning(e.stream, e.running);
      break;
    case K::addStream:
      audio_->addStream(e.newStream);
      break;
    case K::removeStream:
      audio_->removeStream(e.stream);
      break;
    case K::moveStream:
      audio_->userMoveStream(e.stream, e.device);
      break;
    case K::launchApp:
      applications_->launch(e.app);
      break;
    case K::quitApp:
      applications_->quit(e.pid);
      windows_->closeAllOf(e.pid);
      for (const auto& stream : audio_->streams()) {
        if (stream.pid && descendsFrom(parents_, *stream.pid, e.pid)) audio_->removeStream(stream.id);
      }
      break;
    case K::setDefault:
      audio_->userSetDefault(e.device);
      break;
    case K::plug:
      audio_->addDevice(e.newDevice);
      break;
    case K::unplug:
      audio_->removeDevice(e.device);
      break;
    case K::setDisplays:
      screens_->setScreens(e.displays);
      break;
    case K::renameDevice:
      audio_->renameDevice(e.device, e.name);
      break;
    case K::fail:
      if (auto op = operationFromName(e.operation)) {
        audio_->fail(*op, e.count);
      } else if (e.operation == "windowList") {
        windows_->failWindowList(e.count);
      } else if (e.operation == "parentPid") {
        applications_->failParentPid(e.count);
      }
      break;
  }
}

}  // namespace velmora::sim
