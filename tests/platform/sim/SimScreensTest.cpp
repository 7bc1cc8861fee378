#include <gtest/gtest.h>

#include <thread>

#include "platform/sim/SimScreens.h"
#include "platform/sim/VirtualScheduler.h"

namespace velmora::sim {
namespace {

std::string firstName(SimScreens& screens) {
  const auto list = screens.screens();
  return list.empty() ? "-" : list.front().localizedName;
}

PlatformScreen screen(std::int64_t id, std::string name) {
  return PlatformScreen{PlatformValue{id}, Rect{0, 0, 100, 100}, std::move(name)};
}

TEST(SimScreens, ReplacingTheListNotifiesEveryObserverOnItsQueue) {
  auto scheduler = VirtualScheduler::create();
  auto main = scheduler->makeQueue("main");
  auto routing = scheduler->makeQueue("routing");
  SimScreens screens({screen(1, "A")});

  std::vector<std::string> seen;
  screens.observeConfigurationChanges(main, [&] { seen.push_back("main:" + firstName(screens)); });
  screens.observeConfigurationChanges(routing, [&] { seen.push_back("routing"); });
  // Without a queue the handler runs on the changing thread, and may read the
  // list back without deadlocking.
  screens.observeConfigurationChanges(nullptr, [&] { seen.push_back("direct:" + firstName(screens)); });

  screens.setScreens({screen(2, "B")});
  EXPECT_EQ(seen, (std::vector<std::string>{"direct:B"}));
  EXPECT_EQ(screens.screens().at(0).screenNumber, PlatformValue{std::int64_t{2}});
  scheduler->drain();
  EXPECT_EQ(seen, (std::vector<std::string>{"direct:B", "main:B", "routing"}));
  screens.setScreens({});
  EXPECT_TRUE(screens.screens().empty());
  scheduler->drain();
  EXPECT_EQ(seen, (std::vector<std::string>{"direct:B", "main:B", "routing", "direct:-", "main:-", "routing"}));
}

TEST(SimScreens, SafeUnderConcurrentChangesAndReads) {
  SimScreens screens;
  std::atomic<int> notified{0};
  screens.observeConfigurationChanges(nullptr, [&] { ++notified; });
  std::thread writer([&] {
    for (int i = 0; i < 200; ++i)
      screens.setScreens({screen(i, "S"), screen(i, "T")});
  });
  std::thread reader([&] {
    for (int i = 0; i < 200; ++i) {
      const auto list = screens.screens();
      EXPECT_TRUE(list.empty() || list.size() == 2u);
    }
  });
  std::thread observer([&] {
    for (int i = 0; i < 50; ++i)
      screens.observeConfigurationChanges(nullptr, [] {});
  });
  writer.join();
  reader.join();
  observer.join();
  EXPECT_EQ(notified, 200);
}

}  // namespace
}  // namespace velmora::sim
