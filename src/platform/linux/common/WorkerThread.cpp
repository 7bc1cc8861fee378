#include "platform/linux/common/WorkerThread.h"

#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ThreadStart.h"

namespace velmora::linuxos {

WorkerThread::~WorkerThread() {
  stop();
}

void nameThisThread(std::string_view name) {
  const std::string cut(name.substr(0, 15));
  ::pthread_setname_np(::pthread_self(), cut.c_str());
}

bool WorkerThread::start(std::string_view name, std::function<void()> body) {
  if (thread_.joinable()) return false;
  if (stopFd_ < 0) stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (nudgeFd_ < 0) nudgeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0 || nudgeFd_ < 0) return false;
  thread_ = std::thread([name = std::string(name), body = std::move(body)] {
    nameThisThread(name);
    runThreadStartHook();
    body();
  });
  return true;
}

void WorkerThread::stop() {
  stopping_ = true;
  if (stopFd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto written = ::write(stopFd_, &one, sizeof one);
  }
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  if (!thread_.joinable()) {
    for (int* fd : {&stopFd_, &nudgeFd_}) {
      if (*fd >= 0) ::close(*fd);
      *fd = -1;
    }
  }
}

void WorkerThread::nudge() {
  if (nudgeFd_ < 0) return;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(nudgeFd_, &one, sizeof one);
}

WorkerThread::Wake WorkerThread::wait(std::span<pollfd> fds, std::optional<Clock::time_point> deadline) {
  std::vector<pollfd> all(fds.begin(), fds.end());
  all.push_back({nudgeFd_, POLLIN, 0});
  all.push_back({stopFd_, POLLIN, 0});
  for (;;) {
    if (stopping()) return Wake::stop;
    int timeout = -1;
    if (deadline) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now()).count();
      if (left <= 0) return Wake::timeout;
      timeout = static_cast<int>(std::min<long long>(left, 24LL * 3600 * 1000));
    }
    for (auto& p : all)
      p.revents = 0;
    const int n = ::poll(all.data(), all.size(), timeout);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      return Wake::timeout;
    }
    if (all.back().revents) return Wake::stop;
    if (n == 0) continue;  // the deadline is checked at the top
    if (all[fds.size()].revents) {
      std::uint64_t count = 0;
      [[maybe_unused]] const auto read = ::read(nudgeFd_, &count, sizeof count);
      return Wake::nudged;
    }
    for (std::size_t i = 0; i < fds.size(); ++i)
      fds[i].revents = all[i].revents;
    return Wake::ready;
  }
}

bool WorkerThread::sleepFor(std::chrono::milliseconds time) {
  const auto until = Clock::now() + time;
  for (;;) {
    const auto wake = wait({}, until);
    if (wake != Wake::nudged) return wake != Wake::stop;
  }
}

void WorkerThread::keepConnecting(Backoff backoff, const std::function<bool()>& attempt) {
  while (!stopping()) {
    if (attempt()) backoff.reset();
    if (stopping() || !sleepFor(backoff.next())) return;
  }
}

}  // namespace velmora::linuxos
