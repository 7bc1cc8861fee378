#include "app/shell/BusNotifier.h"

#include <poll.h>
#include <systemd/sd-bus.h>
#include <time.h>

#include <climits>
#include <cstdint>

namespace velmora::app {

namespace {

std::uint64_t monotonicUsec() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000u;
}

}  // namespace

BusNotifier::BusNotifier(sd_bus* bus, std::function<void(int)> ended, QObject* parent)
    : QObject(parent),
      bus_(bus),
      ended_(std::move(ended)),
      read_(sd_bus_get_fd(bus), QSocketNotifier::Read),
      write_(sd_bus_get_fd(bus), QSocketNotifier::Write) {
  timer_.setSingleShot(true);
  connect(&read_, &QSocketNotifier::activated, this, &BusNotifier::process);
  connect(&write_, &QSocketNotifier::activated, this, &BusNotifier::process);
  connect(&timer_, &QTimer::timeout, this, &BusNotifier::process);
  // Whatever arrived while the connection was being set up.
  timer_.start(0);
}

void BusNotifier::process() {
  if (over_) return;
  int r = 0;
  while ((r = sd_bus_process(bus_, nullptr)) > 0) {
  }
  if (r < 0) {
    end(r);
    return;
  }
  rearm();
}

void BusNotifier::rearm() {
  if (over_) return;
  const int events = sd_bus_get_events(bus_);
  if (events < 0) {
    end(events);
    return;
  }
  read_.setEnabled(events & POLLIN);
  write_.setEnabled(events & POLLOUT);
  std::uint64_t until = UINT64_MAX;
  if (sd_bus_get_timeout(bus_, &until) < 0 || until == UINT64_MAX) {
    timer_.stop();
    return;
  }
  const std::uint64_t now = monotonicUsec();
  const std::uint64_t ms = until <= now ? 0 : (until - now + 999) / 1000;
  timer_.start(static_cast<int>(ms < INT_MAX ? ms : INT_MAX));
}

void BusNotifier::end(int error) {
  over_ = true;
  read_.setEnabled(false);
  write_.setEnabled(false);
  timer_.stop();
  if (ended_) ended_(error);
}

}  // namespace velmora::app
