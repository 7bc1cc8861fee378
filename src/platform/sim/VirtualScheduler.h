#pragma once

// Deterministic queues in virtual time: several serial queues share one clock;
// work runs in order of deadline and, at equal deadlines, in the order it was
// scheduled. Nothing runs until the owner advances time.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <queue>
#include <string>
#include <vector>

#include "platform/Queue.h"

namespace velmora::sim {

class VirtualScheduler : public std::enable_shared_from_this<VirtualScheduler> {
 public:
  static std::shared_ptr<VirtualScheduler> create();

  std::shared_ptr<SerialQueue> makeQueue(const std::string& label);
  SerialQueueFactory queueFactory();
  std::shared_ptr<Clock> clock();

  Duration now() const;
  double nowSeconds() const;

  // The simulated wall clock: virtual time from a fixed date, plus every
  // step so far. Steps model NTP, a hand-set clock or a resume from sleep;
  // virtual time, and so every duration, goes on unaffected.
  double wallSeconds() const;
  void stepWallClock(Duration delta);

  // Runs every item due strictly before t (also ones scheduled meanwhile),
  // then sets the clock to t.
  void runBefore(Duration t);
  // Runs every item due at or before t, then sets the clock to t.
  void runUntil(Duration t);
  void runUntilSeconds(double seconds);
  // Runs what is due now, without advancing the clock.
  void drain() { runUntil(now()); }

  std::size_t pendingCount() const;
  std::uint64_t executedCount() const { return executed_; }

  // Used by the queue and timer implementations.
  struct Item {
    Duration due;
    std::uint64_t seq;
    std::function<void()> run;
  };
  void schedule(Duration due, std::function<void()> run);

 private:
  VirtualScheduler() = default;
  bool popDue(Duration limit, bool inclusive, Item& out);
  void run(Duration t, bool inclusive);

  struct Later {
    bool operator()(const Item& a, const Item& b) const { return a.due != b.due ? a.due > b.due : a.seq > b.seq; }
  };

  mutable std::mutex mutex_;
  std::priority_queue<Item, std::vector<Item>, Later> items_;
  Duration now_{0};
  Duration wallOffset_{0};
  std::uint64_t nextSeq_ = 0;
  std::uint64_t executed_ = 0;
};

Duration seconds(double s);

}  // namespace velmora::sim
