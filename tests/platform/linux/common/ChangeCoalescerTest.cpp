#include "platform/linux/common/ChangeCoalescer.h"

#include <gtest/gtest.h>

#include "support/ManualQueue.h"

namespace velmora::linuxos {
namespace {

using namespace std::chrono_literals;

TEST(ChangeCoalescer, OneNoticePerBurstOnTheObserversQueue) {
  auto scheduler = std::make_shared<test::ManualQueue>();
  auto changes = ChangeCoalescer::make(scheduler, 200ms);
  int notices = 0;
  changes->observe(scheduler, [&] { ++notices; });

  changes->trigger();
  scheduler->runUntil(150ms);
  changes->trigger();  // RandR and the sound server in one burst
  scheduler->runUntil(300ms);
  changes->trigger();
  EXPECT_EQ(notices, 0);
  scheduler->runUntil(499ms);
  EXPECT_EQ(notices, 0);
  scheduler->runUntil(500ms);
  EXPECT_EQ(notices, 1);

  changes->trigger();
  scheduler->runUntil(2s);
  EXPECT_EQ(notices, 2);

  // A coalescer that is gone before its quiet period ends notifies no one.
  changes->trigger();
  changes.reset();
  scheduler->runUntil(5s);
  EXPECT_EQ(notices, 2);
}

}  // namespace
}  // namespace velmora::linuxos
