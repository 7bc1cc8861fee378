#include "display/SpeakerBindings.h"

#include <algorithm>

namespace velmora {

namespace {

bool knowsMonitor(const DisplayIdentity& d) {
  return d.maker || d.model || d.serial;
}

// Same maker, model and serial (absent ones alike). With nothing of the
// monitor known on either side, only the port can tell.
bool sameMonitor(const DisplayIdentity& a, const DisplayIdentity& b) {
  if (!knowsMonitor(a) && !knowsMonitor(b)) return a.connector && a.connector == b.connector;
  return a.maker == b.maker && a.model == b.model && a.serial == b.serial;
}

}  // namespace

bool canBeBound(const DisplayIdentity& display) {
  return knowsMonitor(display) || display.connector;
}

std::optional<SpeakerBinding> bindingFor(const DisplayIdentity& display, const std::vector<DisplayIdentity>& connected,
                                         const std::vector<SpeakerBinding>& bindings) {
  if (!canBeBound(display)) return std::nullopt;
  std::vector<const SpeakerBinding*> candidates;
  for (const SpeakerBinding& binding : bindings) {
    if (sameMonitor(binding.display, display)) candidates.push_back(&binding);
  }
  if (candidates.empty()) return std::nullopt;
  // The port first: it tells twins apart. The latest binding wins, though
  // choosing replaces rather than adds.
  for (auto it = candidates.rbegin(); it != candidates.rend(); ++it) {
    if ((*it)->display.connector == display.connector) return **it;
  }
  // Plugged into another port: still this monitor's binding, unless a twin
  // is connected too and the binding could be either's.
  const auto twins = std::count_if(connected.begin(), connected.end(),
                                   [&](const DisplayIdentity& other) { return sameMonitor(other, display); });
  if (twins > 1 || candidates.size() > 1) return std::nullopt;
  return *candidates.front();
}

std::vector<SpeakerBinding> withChoice(std::vector<SpeakerBinding> bindings, const DisplayIdentity& display,
                                       const std::vector<DisplayIdentity>& connected,
                                       const std::optional<std::string>& deviceUID) {
  if (!canBeBound(display)) return bindings;
  const std::optional<SpeakerBinding> applied = bindingFor(display, connected, bindings);
  std::erase_if(bindings, [&](const SpeakerBinding& b) { return b.display == display || (applied && b == *applied); });
  if (deviceUID) bindings.push_back({display, *deviceUID});
  return bindings;
}

void chooseSpeakers(SpeakerChoices& choices, const DisplayIdentity& display,
                    const std::vector<DisplayIdentity>& connected, const std::optional<std::string>& deviceUID) {
  choices.setBindings(withChoice(choices.bindings(), display, connected, deviceUID));
}

}  // namespace velmora
