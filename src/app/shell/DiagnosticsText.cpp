#include "app/shell/DiagnosticsText.h"

#include <algorithm>

#include "display/DisplayAudioMapper.h"
#include "platform/PlatformValue.h"

namespace velmora::app {

namespace {

const char* boolText(bool value) {
  return value ? "true" : "false";
}

std::string displayName(DisplayID displayID, const std::vector<PlatformScreen>& screens) {
  for (const auto& screen : screens) {
    if (toUInt32(screen.screenNumber) == displayID) return screen.localizedName;
  }
  return "Display " + std::to_string(displayID);
}

}  // namespace

std::string mappingLine(const DisplayMapping& mapping, const std::vector<PlatformScreen>& screens) {
  std::string line = "\u2022 " + displayName(mapping.displayID, screens) + " \u2192 " +
                     mapping.deviceName.value_or("Unknown") + " [id=" + std::to_string(mapping.deviceID) + "]";
  if (mapping.basis) line += *mapping.basis == PairingBasis::wholeName ? " by whole name" : " by shared words";
  return line;
}

std::string deviceLine(const DeviceFacts& device) {
  return "\u2022 id=" + std::to_string(device.id) + " \"" + device.name.value_or("?") +
         "\" alive=" + boolText(device.alive) + " canDef=" + boolText(device.canBeDefault) +
         " transport=" + AudioHardware::fourCharCodeText(device.transport);
}

std::string streamLine(const StreamFacts& stream) {
  std::string line = "\u2022 stream " + std::to_string(stream.id) + " \u2192 " + stream.deviceName.value_or("?") +
                     " [id=" + std::to_string(stream.device) + "]";
  if (stream.unmovable) line += " (the sound server refuses to move it)";
  return line;
}

std::vector<std::string> mappingLines(const std::vector<DisplayMapping>& mappings,
                                      const std::vector<PlatformScreen>& screens) {
  if (mappings.empty()) return {"(no display\u2192audio mappings found)"};
  std::vector<std::string> lines;
  lines.reserve(mappings.size());
  for (const auto& mapping : mappings)
    lines.push_back(mappingLine(mapping, screens));
  // Byte order of UTF-8 text is code-point order.
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string diagnosticsText(const DiagnosticsSnapshot& snapshot) {
  std::vector<std::string> lines = mappingLines(snapshot.mappings, snapshot.screens);
  lines.emplace_back();
  lines.push_back("ALL OUTPUT DEVICES (current default = " + std::to_string(snapshot.defaultDevice) + "):");
  for (const auto& device : snapshot.devices)
    lines.push_back(deviceLine(device));
  if (const auto& followed = snapshot.followed) {
    lines.emplace_back();
    lines.push_back("FOLLOWED APPLICATION (" + followed->name + ", pid " + std::to_string(followed->pid) + "):");
    for (const auto& stream : followed->streams)
      lines.push_back(streamLine(stream));
  }
  if (!snapshot.session.empty()) {
    lines.emplace_back();
    lines.push_back(snapshot.session);
  }

  std::string text;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (i) text += '\n';
    text += lines[i];
  }
  return text;
}

DiagnosticsSnapshot readDiagnostics(const AudioHardware& audio, ScreensSource& screens,
                                    const std::optional<FollowedApplication>& followed) {
  DiagnosticsSnapshot snapshot;
  std::shared_ptr<ScreensSource> borrowed(&screens, [](ScreensSource*) {});
  const DisplayAudioMapper mapper(audio, borrowed);
  for (const auto& [displayID, pairing] : mapper.buildPairings()) {
    snapshot.mappings.push_back({displayID, pairing.device, audio.deviceName(pairing.device), pairing.basis});
  }
  snapshot.screens = screens.screens();
  snapshot.defaultDevice = audio.defaultOutputDevice();
  for (AudioDeviceID id : audio.outputDevices()) {
    snapshot.devices.push_back({id, audio.deviceName(id), audio.deviceIsAlive(id), audio.canBeDefaultOutputDevice(id),
                                audio.transportType(id)});
  }
  if (followed) {
    snapshot.followed = FollowedFacts{followed->name, followed->pid, {}};
    for (const auto& stream : followed->streams) {
      const AudioDeviceID device = audio.processOutputDevice(stream.id);
      snapshot.followed->streams.push_back({stream.id, device, audio.deviceName(device), stream.unmovable});
    }
  }
  return snapshot;
}

std::string aboutText(const std::string& version, const std::string& supportContact, const std::string& copyright) {
  return "Version " + (version.empty() ? std::string("?") : version) +
         "\n\nRoutes audio to the speakers of whichever display has the active video.\n\n"
         "Bug reports and questions: " +
         supportContact + "\n\n" + copyright;
}

}  // namespace velmora::app
