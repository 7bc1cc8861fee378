#pragma once

// A scenario file for the simulated desktop: what exists at the start, what
// happens when, and when the run ends. Reading validates everything up front
// so that a run never meets an impossible event.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/Applications.h"
#include "platform/Screens.h"
#include "platform/sim/SimAudio.h"
#include "platform/sim/SimWindows.h"

namespace velmora::sim {

struct ScenarioProcess {
  Pid pid = 0;
  Pid parent = 0;
};

struct ScenarioEvent {
  enum class Kind {
    moveWindow,
    raiseWindow,
    openWindow,
    closeWindow,
    setRunning,
    addStream,
    removeStream,
    moveStream,
    launchApp,
    quitApp,
    setDefault,
    plug,
    unplug,
    setDisplays,
    renameDevice,
    fail,
  };

  double at = 0;
  Kind kind = Kind::moveWindow;
  std::string window;                    // moveWindow, raiseWindow, closeWindow
  Rect bounds;                           // moveWindow
  SimWindow newWindow;                   // openWindow
  AudioObjectID stream = 0;              // setRunning, removeStream, moveStream
  bool running = false;                  // setRunning
  SimAudio::Stream newStream;            // addStream
  RunningApplication app;                // launchApp
  Pid pid = 0;                           // quitApp
  AudioDeviceID device = 0;              // setDefault, unplug, renameDevice, moveStream
  SimAudio::Device newDevice;            // plug
  std::vector<PlatformScreen> displays;  // setDisplays
  std::optional<std::string> name;       // renameDevice
  std::string operation;                 // fail
  int count = 1;                         // fail
};

struct Scenario {
  std::vector<PlatformScreen> displays;
  std::vector<SimAudio::Device> devices;
  AudioDeviceID defaultDevice = 0;
  std::vector<RunningApplication> apps;
  std::vector<ScenarioProcess> processes;
  std::vector<SimWindow> windows;
  std::vector<SimAudio::Stream> streams;
  std::vector<ScenarioEvent> events;
  double until = 0;
};

struct ScenarioError {
  std::string message;
  // 1-based; 0 when the position is unknown.
  std::size_t line = 0;
  std::size_t column = 0;
};

// Exactly one of the two is set.
struct ScenarioResult {
  std::optional<Scenario> scenario;
  std::optional<ScenarioError> error;
};

ScenarioResult parseScenario(const std::string& text);

// Whether pid is ancestor or lies below it in the parent map (bounded, so a
// cycle in a bad scenario cannot hang).
bool descendsFrom(const std::map<Pid, Pid>& parents, Pid pid, Pid ancestor);

// The operations a "fail" event may name.
bool isFailableOperation(const std::string& name);

}  // namespace velmora::sim
