#pragma once

// The displays of a KDE Plasma session from kde_output_device_v2, which
// carries the connector name, position, mode, scale and EDID of each output.
// A thread of its own reads the compositor's events; when the compositor goes
// away (KWin restarting) it reconnects with back-off and keeps the last list
// meanwhile, since the monitors themselves did not change.

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Screens.h"
#include "platform/linux/common/WorkerThread.h"

namespace velmora::linuxos {

class KdeOutputs {
 public:
  // onChange runs on the outputs' thread whenever the screen list changes.
  explicit KdeOutputs(std::function<void()> onChange, std::optional<std::string> display = std::nullopt);
  ~KdeOutputs();

  KdeOutputs(const KdeOutputs&) = delete;
  KdeOutputs& operator=(const KdeOutputs&) = delete;

  std::vector<PlatformScreen> screens() const;
  // Whether the compositor offers kde_output_device_v2 (false until known).
  bool available() const;

 private:
  struct Connection;
  friend struct Connection;

  void run();
  void publish(std::vector<PlatformScreen> screens);

  std::function<void()> onChange_;
  std::optional<std::string> display_;

  mutable std::mutex mutex_;
  std::vector<PlatformScreen> screens_;
  bool available_ = false;
  WorkerThread worker_;
};

}  // namespace velmora::linuxos
