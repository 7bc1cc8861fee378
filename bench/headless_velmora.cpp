// velmora's routing without the tray shell: the Linux back ends and the
// coordinator on an asio main queue, no Qt. Not a product; it exists so that
// desktop_bench.sh can tell what the routing costs apart from what the Qt
// shell costs. Runs until SIGINT or SIGTERM.

#include <csignal>
#include <cstdio>
#include <memory>

#include "platform/Log.h"
#include "platform/linux/LinuxPlatform.h"
#include "routing/RoutingCoordinator.h"

int main() {
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  // Blocked before any thread starts, so that every thread inherits the mask
  // and the signal is left for sigwait below.
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  velmora::setLogSink(velmora::linuxos::makeSystemLogSink());
  auto mainQueue = velmora::linuxos::makeAsioQueue("co.quennet.velmora.main");
  const velmora::Platform platform = velmora::linuxos::makeLinuxPlatform(mainQueue);
  auto coordinator = velmora::RoutingCoordinator::create(platform);
  std::weak_ptr<velmora::RoutingCoordinator> weak = coordinator;
  mainQueue->async([weak] {
    if (auto c = weak.lock()) c->startRouting();
  });

  int signal = 0;
  sigwait(&stop, &signal);
  return 0;
}
