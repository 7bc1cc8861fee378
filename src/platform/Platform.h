#pragma once

#include <memory>

#include "platform/Applications.h"
#include "platform/AudioObjects.h"
#include "platform/Queue.h"
#include "platform/Screens.h"
#include "platform/Windows.h"

namespace velmora {

// Everything the core takes from the operating system, wired by main().
struct Platform {
  std::shared_ptr<AudioObjects> audio;
  std::shared_ptr<ScreensSource> screens;
  std::shared_ptr<WindowSource> windows;
  std::shared_ptr<Applications> applications;
  std::shared_ptr<SerialQueue> mainQueue;
  SerialQueueFactory makeSerialQueue;
  std::shared_ptr<Clock> clock;
};

}  // namespace velmora
