// asio's handler recycling uses fences that GCC's ThreadSanitizer build warns
// about; the warning says nothing about this code.
#if defined(__SANITIZE_THREAD__) && defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wtsan"
#endif

#include "platform/linux/queue/AsioQueue.h"

#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <chrono>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ThreadStart.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/common/WorkerThread.h"

namespace velmora::linuxos {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Far enough to mean "never" without overflowing the clock's arithmetic.
constexpr Duration kLongestDelay = std::chrono::hours(24 * 365 * 100);

SteadyClock::duration clampDelay(Duration delay) {
  return std::chrono::duration_cast<SteadyClock::duration>(std::clamp(delay, Duration::zero(), kLongestDelay));
}

// A repeating timer due within this of another one's expiry on the same
// queue runs with it, that little early: one wake-up instead of two (the
// routing queue's window and audio polls fall a hop apart), for a difference
// no poll can notice.
constexpr auto kSharedWakeUp = std::chrono::milliseconds(5);

struct TimerState;

// The io_context and, for an owned queue, its thread. Blocks and timers hold
// it by shared pointer, so it outlives a queue that was dropped on its own
// thread.
struct Context {
  asio::io_context owned;
  asio::io_context* context = nullptr;
  // The armed repeating timers; touched only on the queue's thread.
  std::vector<std::weak_ptr<TimerState>> timers;
};

struct DelayedState {
  std::atomic<bool> cancelled{false};
  std::weak_ptr<asio::steady_timer> timer;
  std::weak_ptr<Context> context;
};

class AsioWorkItem final : public WorkItem {
 public:
  explicit AsioWorkItem(std::shared_ptr<DelayedState> state) : state_(std::move(state)) {}

  void cancel() override {
    state_->cancelled.store(true);
    // Free the timer early; the flag alone already keeps the block from
    // running, even when its expiry is queued.
    if (auto context = state_->context.lock()) {
      asio::post(*context->context, [weak = state_->timer] {
        if (auto timer = weak.lock()) timer->cancel();
      });
    }
  }
  bool isCancelled() const override { return state_->cancelled.load(); }

 private:
  std::shared_ptr<DelayedState> state_;
};

struct TimerState {
  std::atomic<bool> cancelled{false};
  std::weak_ptr<Context> context;
  // Touched only on the queue's thread.
  std::shared_ptr<asio::steady_timer> timer;
  SteadyClock::time_point deadline;
  SteadyClock::duration interval{};
  std::function<void()> handler;
  // Which arming a wait belongs to: a timer run early is armed afresh, and
  // the wait it had ends without running it.
  unsigned arming = 0;
};

void armTimer(const std::shared_ptr<TimerState>& state);

// Runs one expiry and arms the next.
void expire(const std::shared_ptr<TimerState>& state) {
  if (state->cancelled.load()) {
    state->handler = nullptr;
    return;
  }
  state->handler();
  if (state->cancelled.load() || state->interval <= SteadyClock::duration::zero()) {
    state->handler = nullptr;
    return;
  }
  // Deadlines advance by whole intervals from the first one, so expiries do
  // not drift; ticks missed while the thread was busy are skipped, not
  // delivered in a burst.
  state->deadline += state->interval;
  const auto now = SteadyClock::now();
  if (state->deadline <= now) {
    const auto behind = (now - state->deadline) / state->interval + 1;
    state->deadline += behind * state->interval;
  }
  armTimer(state);
}

// After one timer's expiry: the others due within kSharedWakeUp, earliest
// first.
void expireNeighbours(const std::shared_ptr<TimerState>& woken) {
  auto context = woken->context.lock();
  if (!context) return;
  const auto horizon = SteadyClock::now() + kSharedWakeUp;
  std::vector<std::shared_ptr<TimerState>> due;
  std::erase_if(context->timers, [&](const std::weak_ptr<TimerState>& weak) {
    auto state = weak.lock();
    if (!state || !state->handler || state->cancelled.load()) return true;
    if (state != woken && state->deadline <= horizon) due.push_back(std::move(state));
    return false;
  });
  std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a->deadline < b->deadline; });
  // A handler may cancel or drop a later one; expire checks.
  for (const auto& state : due)
    expire(state);
}

void armTimer(const std::shared_ptr<TimerState>& state) {
  const unsigned arming = ++state->arming;
  state->timer->expires_at(state->deadline);
  state->timer->async_wait([state, arming](const std::error_code& error) {
    // Run early with another timer and armed again since.
    if (arming != state->arming) return;
    if (error) {
      state->handler = nullptr;
      return;
    }
    expire(state);
    expireNeighbours(state);
  });
}

class AsioRepeatingTimer final : public RepeatingTimer {
 public:
  explicit AsioRepeatingTimer(std::shared_ptr<TimerState> state) : state_(std::move(state)) {}
  ~AsioRepeatingTimer() override { cancel(); }

  void cancel() override {
    if (state_->cancelled.exchange(true)) return;
    if (auto context = state_->context.lock()) {
      asio::post(*context->context, [state = state_] {
        if (state->timer) state->timer->cancel();
      });
    }
  }

 private:
  std::shared_ptr<TimerState> state_;
};

class AsioSerialQueue : public SerialQueue {
 public:
  AsioSerialQueue(std::shared_ptr<Context> context, std::string label)
      : context_(std::move(context)), label_(std::move(label)) {}

  const std::string& label() const override { return label_; }

  void async(std::function<void()> block) override {
    if (!block) return;
    asio::post(*context_->context, std::move(block));
  }

  std::shared_ptr<WorkItem> asyncAfter(Duration delay, std::function<void()> block) override {
    auto state = std::make_shared<DelayedState>();
    state->context = context_;
    auto item = std::make_shared<AsioWorkItem>(state);
    if (!block) {
      item->cancel();
      return item;
    }
    auto timer = std::make_shared<asio::steady_timer>(*context_->context);
    state->timer = timer;
    timer->expires_after(clampDelay(delay));
    timer->async_wait([timer, state, block = std::move(block)](const std::error_code&) {
      // Checked here, on the queue's thread: a cancel that came after the
      // expiry was queued still wins.
      if (!state->cancelled.load()) block();
    });
    return item;
  }

  std::shared_ptr<RepeatingTimer> makeTimer(Duration firstDeadline, Duration interval, Duration /*leeway*/,
                                            std::function<void()> handler) override {
    auto state = std::make_shared<TimerState>();
    state->context = context_;
    state->interval = clampDelay(interval);
    state->deadline = SteadyClock::now() + clampDelay(firstDeadline);
    state->handler = std::move(handler);
    auto timer = std::make_shared<AsioRepeatingTimer>(state);
    if (!state->handler) {
      timer->cancel();
      return timer;
    }
    // Armed on the queue's thread, which alone touches the asio timer. The
    // block must not own the context: a block still queued when the queue is
    // dropped would keep its io_context, and so itself, alive for ever. While
    // a block runs, the running thread keeps the context alive.
    asio::post(*context_->context, [state, io = context_->context] {
      if (state->cancelled.load()) {
        state->handler = nullptr;
        return;
      }
      state->timer = std::make_shared<asio::steady_timer>(*io);
      if (auto context = state->context.lock()) context->timers.push_back(state);
      armTimer(state);
    });
    return timer;
  }

 protected:
  std::shared_ptr<Context> context_;

 private:
  std::string label_;
};

class ThreadQueue final : public AsioSerialQueue {
 public:
  explicit ThreadQueue(std::shared_ptr<Context> context, const std::string& label)
      : AsioSerialQueue(std::move(context), label) {
    guard_ = std::make_unique<Guard>(context_->owned.get_executor());
    // Named by the label's last part: "routing", "lookups".
    const auto dot = label.rfind('.');
    thread_ = std::thread([context = context_, name = label.substr(dot == std::string::npos ? 0 : dot + 1)] {
      nameThisThread(name);
      runThreadStartHook();
      context->context->run();
      // Blocks still queued are dropped here, on this thread, with the
      // timers they hold.
    });
  }

  ~ThreadQueue() override {
    // Queued blocks are not run once the queue is gone.
    context_->context->stop();
    guard_.reset();
    if (thread_.get_id() == std::this_thread::get_id()) {
      // Dropped by one of its own blocks: the thread still runs that block and
      // keeps the context alive until it returns.
      thread_.detach();
    } else if (thread_.joinable()) {
      thread_.join();
    }
  }

 private:
  using Guard = asio::executor_work_guard<asio::io_context::executor_type>;
  std::unique_ptr<Guard> guard_;
  std::thread thread_;
};

class SystemClock final : public Clock {
 public:
  Timestamp now() const override {
    return std::chrono::duration<double>(SteadyClock::now().time_since_epoch()).count();
  }
  double wallTime() const override {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  }
};

}  // namespace

std::shared_ptr<SerialQueue> makeAsioQueue(const std::string& label) {
  auto context = std::make_shared<Context>();
  context->context = &context->owned;
  return std::make_shared<ThreadQueue>(std::move(context), label);
}

std::shared_ptr<SerialQueue> makeAsioMainQueue(asio::io_context& io, const std::string& label) {
  auto context = std::make_shared<Context>();
  context->context = &io;
  return std::make_shared<AsioSerialQueue>(std::move(context), label);
}

std::shared_ptr<Clock> makeSystemClock() {
  return std::make_shared<SystemClock>();
}

}  // namespace velmora::linuxos
