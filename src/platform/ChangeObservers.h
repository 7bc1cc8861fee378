#pragma once

// The observers of a change notice: handlers, each with the queue it runs on.
// Thread-safe; handlers run outside the list's lock, so they may read the
// changed state (or add observers) again.

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace velmora {

class SerialQueue;

class ChangeObservers {
 public:
  // A null queue runs the handler at once on the notifying thread.
  void add(std::shared_ptr<SerialQueue> queue, std::function<void()> handler);
  void notify();

 private:
  struct Observer {
    std::shared_ptr<SerialQueue> queue;
    std::shared_ptr<const std::function<void()>> handler;
  };

  std::mutex mutex_;
  std::vector<Observer> observers_;
};

}  // namespace velmora
