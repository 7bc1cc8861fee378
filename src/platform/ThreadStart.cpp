#include "platform/ThreadStart.h"

#include <atomic>

namespace velmora {

namespace {
std::atomic<ThreadStartHook> gHook{nullptr};
}  // namespace

void setThreadStartHook(ThreadStartHook hook) {
  gHook.store(hook);
}

void runThreadStartHook() {
  if (auto hook = gHook.load()) hook();
}

}  // namespace velmora
