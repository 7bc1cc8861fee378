#include "platform/Log.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

namespace velmora {
namespace {

// Keeps default records only, and counts what it is asked.
class DefaultOnlySink final : public LogSink {
 public:
  void write(const LogRecord& record) override { written.push_back(record); }
  bool keeps(LogLevel level) const override {
    ++asked;
    return level == LogLevel::Default;
  }
  std::vector<LogRecord> written;
  mutable std::atomic<int> asked{0};
};

TEST(Logger, RecordsNoSinkKeepsAreNeitherRenderedNorWritten) {
  const Logger log(kVelmoraSubsystem, "Routing");
  EXPECT_FALSE(log.enabled(LogLevel::Default)) << "no sink keeps nothing";

  auto sink = std::make_shared<DefaultOnlySink>();
  setLogSink(sink);
  EXPECT_TRUE(log.enabled(LogLevel::Default));
  EXPECT_FALSE(log.enabled(LogLevel::Debug));

  log.debug("rect=%s", {"(0, 0, 1, 1)"});
  log.info("switch target=%u ok=%{bool}d", {80u, true});
  setLogSink(nullptr);

  ASSERT_EQ(sink->written.size(), 1u);
  EXPECT_EQ(sink->written[0].message, "switch target=80 ok=true");
  EXPECT_EQ(sink->written[0].category, "Routing");
  EXPECT_GE(sink->asked.load(), 2) << "every record asks the sink first";
}

}  // namespace
}  // namespace velmora
