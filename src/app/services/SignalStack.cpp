#include "app/services/SignalStack.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>

namespace velmora::app {

namespace {

constexpr std::size_t kStackSize = 64 * 1024;

// This thread's signal stack, with a guard page below it; given back when the
// thread ends.
struct ThreadSignalStack {
  void* mapping = nullptr;
  std::size_t size = 0;

  ~ThreadSignalStack() {
    if (!mapping) return;
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    ::sigaltstack(&off, nullptr);
    ::munmap(mapping, size);
  }
};
thread_local ThreadSignalStack tSignalStack;

}  // namespace

void installSignalStack() {
  if (tSignalStack.mapping) return;
  // Keep one somebody else gave this thread (a sanitizer's, say).
  stack_t current{};
  if (::sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE)) return;
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  const std::size_t size = kStackSize + page;
  void* mapping = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (mapping == MAP_FAILED) return;
  // An overflow of the handler itself then faults instead of writing over
  // whatever lies below.
  ::mprotect(mapping, page, PROT_NONE);
  stack_t ss{};
  ss.ss_sp = static_cast<char*>(mapping) + page;
  ss.ss_size = kStackSize;
  if (::sigaltstack(&ss, nullptr) != 0) {
    ::munmap(mapping, size);
    return;
  }
  tSignalStack.mapping = mapping;
  tSignalStack.size = size;
}

}  // namespace velmora::app
