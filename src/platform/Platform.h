#pragma once

#include <memory>

#include "platform/Applications.h"
#include "platform/AudioObjects.h"
#include "platform/Queue.h"
#include "platform/Screens.h"
#include "platform/SpeakerChoices.h"
#include "platform/Windows.h"

namespace velmora {

// Everything the core takes from the operating system, wired by main().
struct Platform {
  std::shared_ptr<AudioObjects> audio;
  std::shared_ptr<ScreensSource> screens;
  // The speakers the user bound to displays by hand; none: automatic only.
  std::shared_ptr<SpeakerChoices> speakerChoices;
  std::shared_ptr<WindowSource> windows;
  std::shared_ptr<Applications> applications;
  std::shared_ptr<SerialQueue> mainQueue;
  // Where the display reload runs, so that a slow display server never
  // stalls the main thread; the main queue when null.
  std::shared_ptr<SerialQueue> lookupQueue;
  SerialQueueFactory makeSerialQueue;
  std::shared_ptr<Clock> clock;
};

}  // namespace velmora
