// A program that installs the crash handlers and then crashes the way its
// first argument says, so the tests can look at what it leaves behind.

#include <sys/mman.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "app/services/CrashHandler.h"
#include "platform/linux/LinuxPlatform.h"

namespace {

// A real fault on a page that refuses access; a null store would be caught by
// UBSan before it faulted.
[[gnu::noinline]] void crashOnProtectedPage() {
  void* page = mmap(nullptr, 4096, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (page == MAP_FAILED) return;
  std::printf("%p\n", page);
  std::fflush(stdout);
  *static_cast<volatile int*>(page) = 42;
}

[[gnu::noinline]] void throwUncaught() {
  throw std::runtime_error("boom");
}

volatile int gNeverDepth = -1;

// Deep enough to overflow any thread's stack; the volatile frame keeps the
// compiler from turning the recursion into a loop.
[[gnu::noinline]] int recurse(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (depth == gNeverDepth) return 0;
  return recurse(depth + 1) + frame[0];
}

// Blocks on the back ends' own queue threads, which the crash handling must
// cover as well as the thread that installed it.
void overflowOnQueueThread() {
  auto queue = velmora::linuxos::makeAsioQueue("overflow");
  queue->async([] { std::printf("%d\n", recurse(0)); });
  sleep(20);
}

// Two queue threads fault at once; only one record can be written and the
// other thread must not end the process before it is. Thousands of mappings
// make the record slow to write, so the second fault lands while it is.
void faultOnTwoQueueThreads() {
  constexpr std::size_t kPages = 30000;
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  auto* many = static_cast<char*>(mmap(nullptr, kPages * page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  if (many == MAP_FAILED) return;
  for (std::size_t i = 0; i < kPages; i += 2)
    mprotect(many + i * page, page, PROT_NONE);
  void* target = mmap(nullptr, page, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (target == MAP_FAILED) return;

  // Spinning, not sleeping, so both threads run when the second arrives.
  static std::atomic<int> ready{0};
  std::vector<std::shared_ptr<velmora::SerialQueue>> queues;
  for (int i = 0; i < 2; ++i) {
    queues.push_back(velmora::linuxos::makeAsioQueue("fault"));
    queues.back()->async([target] {
      ready.fetch_add(1);
      while (ready.load() < 2) {
      }
      *static_cast<volatile int*>(target) = 42;
    });
  }
  sleep(20);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DIRECTORY segv|terminate|overflow-thread|fault-threads\n", argv[0]);
    return 2;
  }
  velmora::app::prepareThreadsForCrashHandling();
  if (!velmora::app::installCrashHandlers(argv[1], "Velmora@9.9+99")) return 3;
  if (std::strcmp(argv[2], "segv") == 0) crashOnProtectedPage();
  if (std::strcmp(argv[2], "terminate") == 0) throwUncaught();
  if (std::strcmp(argv[2], "overflow-thread") == 0) overflowOnQueueThread();
  if (std::strcmp(argv[2], "fault-threads") == 0) faultOnTwoQueueThreads();
  return 4;
}
