#include "app/shell/SpeakerChoice.h"

#include <algorithm>

#include "display/SpeakerBindings.h"

namespace velmora::app {

namespace {

std::vector<DisplayIdentity> connectedIdentities(const DisplaySpeakers& speakers) {
  std::vector<DisplayIdentity> connected;
  for (const DisplaySpeakersEntry& display : speakers.displays)
    connected.push_back(display.identity);
  return connected;
}

std::optional<std::string> uidOf(const DisplaySpeakers& speakers, AudioDeviceID id) {
  for (const SpeakerDevice& device : speakers.devices) {
    if (device.id == id) return device.uid;
  }
  return std::nullopt;
}

}  // namespace

bool applySpeakerPick(SpeakerChoices& choices, const DisplaySpeakers& speakers, const SpeakerPick& pick) {
  const auto display = std::find_if(speakers.displays.begin(), speakers.displays.end(),
                                    [&](const DisplaySpeakersEntry& d) { return d.displayID == pick.display; });
  if (display == speakers.displays.end() || !canBeBound(display->identity)) return false;
  std::optional<std::string> uid;
  if (pick.device) {
    const auto device = std::find_if(speakers.devices.begin(), speakers.devices.end(),
                                     [&](const SpeakerDevice& d) { return d.id == *pick.device; });
    if (device == speakers.devices.end() || !device->uid) return false;
    uid = device->uid;
  }
  chooseSpeakers(choices, display->identity, connectedIdentities(speakers), uid);
  return true;
}

std::vector<std::string> waitingChoices(const std::vector<SpeakerBinding>& bindings, const DisplaySpeakers& speakers) {
  const std::vector<DisplayIdentity> connected = connectedIdentities(speakers);
  std::vector<std::string> lines;
  for (const SpeakerBinding& binding : bindings) {
    const DisplaySpeakersEntry* bound = nullptr;
    for (const DisplaySpeakersEntry& display : speakers.displays) {
      if (bindingFor(display.identity, connected, bindings) == binding) bound = &display;
    }
    const std::string who = "the speakers chosen for " + describeDisplay(binding.display);
    if (!bound) {
      lines.push_back(who + " wait: no display connected now is that one");
    } else if (!bound->pairing || bound->pairing->basis != PairingBasis::userChoice ||
               uidOf(speakers, bound->pairing->device) != binding.deviceUID) {
      lines.push_back(who + " wait: device " + binding.deviceUID + " is not there");
    }
  }
  return lines;
}

std::string describeDisplay(const DisplayIdentity& display) {
  std::string text;
  for (const auto& part : {display.maker, display.model, display.serial}) {
    if (!part) continue;
    if (!text.empty()) text += ' ';
    text += *part;
  }
  if (display.connector) text += (text.empty() ? "" : " ") + ("on " + *display.connector);
  return text.empty() ? std::string("an unknown display") : text;
}

}  // namespace velmora::app
