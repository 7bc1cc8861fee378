// Every thread the Linux back ends start runs the thread-start hook first:
// the queues' own threads, the X client's event thread and libpulse's loop.

#include <gtest/gtest.h>
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <future>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "platform/ThreadStart.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/pulse/PulseAudioObjects.h"
#include "platform/linux/x11/X11Client.h"

namespace velmora::linuxos {
namespace {

struct HookLog {
  std::mutex m;
  std::condition_variable cv;
  std::set<std::thread::id> threads;
  std::set<std::string> names;
};
HookLog gLog;

void noteThread() {
  char name[32] = {};
  pthread_getname_np(pthread_self(), name, sizeof name);
  std::lock_guard lock(gLog.m);
  gLog.threads.insert(std::this_thread::get_id());
  gLog.names.insert(name);
  gLog.cv.notify_all();
}

TEST(ThreadStartHook, RunsFirstOnEveryBackEndThread) {
  setThreadStartHook(&noteThread);
  // No server to reach: the threads start all the same.
  setenv("PULSE_SERVER", "unix:/nonexistent/velmora-test", 1);
  const std::size_t before = [] {
    std::lock_guard lock(gLog.m);
    return gLog.threads.size();
  }();

  auto queue = makeAsioQueue("hooked");
  std::promise<std::thread::id> queueThread;
  queue->async([&] { queueThread.set_value(std::this_thread::get_id()); });
  const auto queueId = queueThread.get_future().get();
  auto audio = makePulseAudioObjects();
  X11Client x11(nullptr, std::string(":9999"));

  std::unique_lock lock(gLog.m);
  EXPECT_TRUE(gLog.cv.wait_for(lock, std::chrono::seconds(10), [&] {
    return gLog.threads.size() >= before + 3 && gLog.names.contains("velmora-pulse");
  })) << "the queue's, the X client's and the sound server's threads";
  EXPECT_TRUE(gLog.threads.contains(queueId)) << "before the queue's first block";
  lock.unlock();
  setThreadStartHook(nullptr);
}

}  // namespace
}  // namespace velmora::linuxos
