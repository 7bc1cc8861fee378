#pragma once

// The texts of the diagnostics and About dialogs, built from plain values so
// they can be checked without a display, and the one function that reads
// those values from the audio platform and the screen list.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioHardware.h"
#include "display/ScreenInfo.h"
#include "display/SpeakerPairing.h"
#include "platform/Screens.h"
#include "routing/FollowedApplication.h"

namespace velmora::app {

// What one output device reports about itself; failed reads are already
// their neutral values.
struct DeviceFacts {
  AudioDeviceID id = 0;
  std::optional<std::string> name;
  bool alive = false;
  bool canBeDefault = false;
  std::uint32_t transport = 0;
};

struct DisplayMapping {
  DisplayID displayID = 0;
  AudioDeviceID deviceID = 0;
  std::optional<std::string> deviceName;
  // Whether the display was paired by its whole name or by shared words;
  // unsaid when unknown.
  std::optional<PairingBasis> basis;
};

// Where one stream of the followed application plays, read afresh.
struct StreamFacts {
  AudioObjectID id = 0;
  AudioDeviceID device = 0;
  std::optional<std::string> deviceName;
  // The sound server refused to move it.
  bool unmovable = false;
};

struct FollowedFacts {
  std::string name;
  Pid pid = 0;
  std::vector<StreamFacts> streams;
};

struct DiagnosticsSnapshot {
  std::vector<PlatformScreen> screens;
  std::vector<DisplayMapping> mappings;
  AudioDeviceID defaultDevice = 0;
  std::vector<DeviceFacts> devices;
  // The application followed now, if any.
  std::optional<FollowedFacts> followed;
  // The desktop session line ("Session: sway"); left out when empty.
  std::string session;
};

// "• <display> → <device> [id=<device id>]", then " by whole name" or
// " by shared words"; the display is named by the first screen whose screen
// number equals displayID, else "Display <id>".
std::string mappingLine(const DisplayMapping& mapping, const std::vector<PlatformScreen>& screens);

// "• id=<id> "<name>" alive=… canDef=… transport=…"; an unreadable name is "?".
std::string deviceLine(const DeviceFacts& device);

// "• stream <id> → <device> [id=<device id>]", then " (the sound server
// refuses to move it)" for a stream it would not move; an unreadable device
// name is "?".
std::string streamLine(const StreamFacts& stream);

// One line per mapping, in ascending code-point order, or the single
// "(no display→audio mappings found)".
std::vector<std::string> mappingLines(const std::vector<DisplayMapping>& mappings,
                                      const std::vector<PlatformScreen>& screens);

// The mapping lines, an empty line, the device header and the device lines,
// then, each after an empty line, the followed application's header and its
// stream lines when one is followed, and the session line when there is one;
// one newline between lines and none at the end.
std::string diagnosticsText(const DiagnosticsSnapshot& snapshot);

// A fresh display map, a fresh read of every output device, and of where
// each stream of the followed application plays.
DiagnosticsSnapshot readDiagnostics(const AudioHardware& audio, ScreensSource& screens,
                                    const std::optional<FollowedApplication>& followed = std::nullopt);

inline constexpr const char* kDiagnosticsTitle = "Display \u2192 Audio Mappings";

// The About dialog's informative text; an empty version reads "?".
std::string aboutText(const std::string& version, const std::string& supportContact, const std::string& copyright);

}  // namespace velmora::app
