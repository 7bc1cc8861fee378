// A program that installs the crash handlers and then crashes the way its
// first argument says, so the tests can look at what it leaves behind.

#include <signal.h>
#include <sys/mman.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "app/services/CrashHandler.h"

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

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s DIRECTORY segv|terminate|abort\n", argv[0]);
    return 2;
  }
  if (!velmora::app::installCrashHandlers(argv[1], "Velmora@9.9+99")) return 3;
  if (std::strcmp(argv[2], "segv") == 0) crashOnProtectedPage();
  if (std::strcmp(argv[2], "terminate") == 0) throwUncaught();
  if (std::strcmp(argv[2], "abort") == 0) raise(SIGABRT);
  return 4;
}
