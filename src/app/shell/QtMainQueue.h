#pragma once

// The main queue on the Qt event loop: blocks run on the thread that owns the
// application object, one at a time, in submission order. Safe to call from
// any thread.

#include <memory>
#include <string>

#include "platform/Queue.h"

class QObject;

namespace velmora::app {

class QtMainQueue final : public SerialQueue {
 public:
  // Call on the main thread, after the application object exists.
  explicit QtMainQueue(std::string label = "co.quennet.velmora.main");
  ~QtMainQueue() override;

  QtMainQueue(const QtMainQueue&) = delete;
  QtMainQueue& operator=(const QtMainQueue&) = delete;

  const std::string& label() const override { return label_; }
  void async(std::function<void()> block) override;
  std::shared_ptr<WorkItem> asyncAfter(Duration delay, std::function<void()> block) override;
  std::shared_ptr<RepeatingTimer> makeTimer(Duration firstDeadline, Duration interval, Duration leeway,
                                            std::function<void()> handler) override;

 private:
  std::string label_;
  // Lives on the main thread; queued calls and timers are tied to it, so they
  // are dropped once the queue is gone.
  QObject* context_;
};

}  // namespace velmora::app
