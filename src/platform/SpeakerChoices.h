#pragma once

// The speakers the user chose by hand for a display: a binding from the
// display's identity to a device's stable name. Bindings outlive the devices
// and displays they name; one whose display or device is absent is kept and
// simply does not apply.
//
// Thread-safe: the shell writes, the display reload reads.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ChangeObservers.h"
#include "platform/Screens.h"

namespace velmora {

class SerialQueue;

struct SpeakerBinding {
  DisplayIdentity display;
  std::string deviceUID;

  bool operator==(const SpeakerBinding&) const = default;
};

class SpeakerChoices {
 public:
  // store, if given, keeps each new list (in the preferences, say); it runs
  // on the thread that sets the list.
  explicit SpeakerChoices(std::vector<SpeakerBinding> bindings = {},
                          std::function<void(const std::vector<SpeakerBinding>&)> store = nullptr);

  // The bindings, in the order they were made.
  std::vector<SpeakerBinding> bindings() const;

  // Replaces the list, keeps it, and tells every observer; nothing happens
  // when the list is unchanged.
  void setBindings(std::vector<SpeakerBinding> bindings);

  // The handler runs on the given queue after every change (at once on the
  // changing thread without one). Observers are never removed.
  void observeChanges(std::shared_ptr<SerialQueue> queue, std::function<void()> handler);

 private:
  mutable std::mutex mutex_;
  std::vector<SpeakerBinding> bindings_;
  std::function<void(const std::vector<SpeakerBinding>&)> store_;
  ChangeObservers observers_;
};

}  // namespace velmora
