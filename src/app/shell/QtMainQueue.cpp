#include "app/shell/QtMainQueue.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <limits>
#include <mutex>

namespace velmora::app {

namespace {

// Qt timers take whole milliseconds in an int; round up so a block never runs
// early, and clamp absurd delays instead of overflowing.
int toMilliseconds(Duration d) {
  if (d <= Duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(d).count();
  return static_cast<int>(std::min<long long>(ms, std::numeric_limits<int>::max()));
}

// The block of a delayed item or timer, guarded so that cancel() from any
// thread drops it at once.
class CancellableBlock {
 public:
  explicit CancellableBlock(std::function<void()> block) : block_(std::move(block)) {}

  void cancel() {
    std::function<void()> dropped;
    {
      std::lock_guard lock(mutex_);
      cancelled_ = true;
      dropped = std::move(block_);
      block_ = nullptr;
    }
  }

  bool isCancelled() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
  }

  // A copy of the block, or nothing once cancelled; taken under the lock and
  // run outside it, so the block may cancel itself.
  std::function<void()> current() const {
    std::lock_guard lock(mutex_);
    return cancelled_ ? std::function<void()>() : block_;
  }

  // Takes the block for a one-shot run; later cancels are no-ops.
  std::function<void()> take() {
    std::lock_guard lock(mutex_);
    if (cancelled_) return {};
    return std::move(block_);
  }

 private:
  mutable std::mutex mutex_;
  bool cancelled_ = false;
  std::function<void()> block_;
};

class QtWorkItem final : public WorkItem {
 public:
  explicit QtWorkItem(std::function<void()> block) : state(std::make_shared<CancellableBlock>(std::move(block))) {}
  void cancel() override { state->cancel(); }
  bool isCancelled() const override { return state->isCancelled(); }

  std::shared_ptr<CancellableBlock> state;
};

class QtRepeatingTimer final : public RepeatingTimer {
 public:
  QtRepeatingTimer(std::function<void()> handler, QObject* context)
      : state(std::make_shared<CancellableBlock>(std::move(handler))), context_(context) {}
  ~QtRepeatingTimer() override { cancel(); }

  void cancel() override {
    state->cancel();
    // The QTimer itself is stopped and deleted on the main thread.
    QPointer<QTimer> timer;
    {
      std::lock_guard lock(timerMutex_);
      timer = timer_;
      timer_ = nullptr;
    }
    if (context_ && timer) {
      QMetaObject::invokeMethod(
          context_,
          [timer] {
            if (timer) {
              timer->stop();
              timer->deleteLater();
            }
          },
          Qt::QueuedConnection);
    }
  }

  void attach(QTimer* timer) {
    std::lock_guard lock(timerMutex_);
    timer_ = timer;
  }

  std::shared_ptr<CancellableBlock> state;

 private:
  QPointer<QObject> context_;
  std::mutex timerMutex_;
  QPointer<QTimer> timer_;
};

}  // namespace

QtMainQueue::QtMainQueue(std::string label) : label_(std::move(label)), context_(new QObject) {
  if (auto* app = QCoreApplication::instance(); app && context_->thread() != app->thread()) {
    context_->moveToThread(app->thread());
  }
}

QtMainQueue::~QtMainQueue() {
  // May be the last owner on another thread: delete on the owning thread.
  context_->deleteLater();
}

void QtMainQueue::async(std::function<void()> block) {
  if (!block) return;
  // Queued calls to one receiver are delivered in the order they were posted.
  QMetaObject::invokeMethod(context_, std::move(block), Qt::QueuedConnection);
}

std::shared_ptr<WorkItem> QtMainQueue::asyncAfter(Duration delay, std::function<void()> block) {
  auto item = std::make_shared<QtWorkItem>(std::move(block));
  const int ms = toMilliseconds(delay);
  QObject* context = context_;
  // Timers must be started on the thread they fire on.
  QMetaObject::invokeMethod(
      context,
      [context, ms, state = item->state] {
        QTimer::singleShot(ms, context, [state] {
          if (auto block = state->take()) block();
        });
      },
      Qt::QueuedConnection);
  return item;
}

std::shared_ptr<RepeatingTimer> QtMainQueue::makeTimer(Duration firstDeadline, Duration interval, Duration leeway,
                                                       std::function<void()> handler) {
  auto timer = std::make_shared<QtRepeatingTimer>(std::move(handler), context_);
  const int first = toMilliseconds(firstDeadline);
  const int every = std::max(1, toMilliseconds(interval));
  // A generous leeway lets Qt coalesce wake-ups, as the leeway intends.
  const Qt::TimerType type = leeway >= std::chrono::milliseconds(20) ? Qt::CoarseTimer : Qt::PreciseTimer;
  std::weak_ptr<QtRepeatingTimer> weakTimer = timer;
  QObject* context = context_;
  QMetaObject::invokeMethod(
      context,
      [context, first, every, type, weakTimer, state = timer->state] {
        auto owner = weakTimer.lock();
        if (!owner || state->isCancelled()) return;
        auto* qtimer = new QTimer(context);
        qtimer->setTimerType(type);
        qtimer->setInterval(first);
        QObject::connect(qtimer, &QTimer::timeout, qtimer, [qtimer, every, state] {
          if (qtimer->interval() != every) qtimer->setInterval(every);
          if (auto handler = state->current()) {
            handler();
          } else {
            qtimer->stop();
            qtimer->deleteLater();
          }
        });
        owner->attach(qtimer);
        qtimer->start();
      },
      Qt::QueuedConnection);
  return timer;
}

}  // namespace velmora::app
