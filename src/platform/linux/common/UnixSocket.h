#pragma once

// Stream connections to a compositor's unix socket. The connect itself never
// blocks: a compositor that stopped accepting fills its listen queue (sway's
// holds three), and a blocking connect would then wait for ever. Every wait
// here ends at a deadline, or when the worker thread is told to stop.

#include <string>
#include <string_view>

#include "platform/linux/common/WorkerThread.h"

namespace velmora::linuxos {

// Owns a descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// A non-blocking, close-on-exec connection, made by the deadline; none on
// failure. worker may be null for a caller that is no worker thread.
UniqueFd connectUnixSocket(const std::string& path, WorkerThread::Clock::time_point deadline,
                           WorkerThread* worker = nullptr);

// Writes all of bytes to a non-blocking socket by the deadline; false on
// failure, timeout or stop.
bool sendAll(int fd, std::string_view bytes, WorkerThread::Clock::time_point deadline, WorkerThread* worker = nullptr);

// Waits for events on fd by the deadline; false on timeout, stop or error.
bool waitForSocket(int fd, short events, WorkerThread::Clock::time_point deadline, WorkerThread* worker = nullptr);

}  // namespace velmora::linuxos
