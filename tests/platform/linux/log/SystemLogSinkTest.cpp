#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "platform/Log.h"
#include "platform/linux/LinuxPlatform.h"

namespace velmora::linuxos {
namespace {

// Sets or clears an environment variable for one scope.
class EnvScope {
 public:
  EnvScope(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~EnvScope() {
    if (old_)
      ::setenv(name_, old_->c_str(), 1);
    else
      ::unsetenv(name_);
  }
  EnvScope(const EnvScope&) = delete;
  EnvScope& operator=(const EnvScope&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(SystemLogSink, DebugLinesAreKeptOnlyWhenAskedFor) {
  const Logger log(kVelmoraSubsystem, "Routing");
  struct Case {
    const char* debugEnv;
    const char* stderrEnv;
    bool keepsDebug;
  };
  // Without VELMORA_LOG_STDERR the journal is used where one listens: the
  // decision must not depend on where the lines go.
  for (const Case c :
       {Case{nullptr, "1", false}, Case{"1", "1", true}, Case{nullptr, nullptr, false}, Case{"1", nullptr, true}}) {
    EnvScope debug("VELMORA_LOG_DEBUG", c.debugEnv);
    EnvScope toStderr("VELMORA_LOG_STDERR", c.stderrEnv);
    const auto sink = makeSystemLogSink();
    SCOPED_TRACE(std::string("debug=") + (c.debugEnv ? "set" : "unset") + " stderr=" + (c.stderrEnv ? "set" : "unset"));
    EXPECT_EQ(sink->keeps(LogLevel::Debug), c.keepsDebug);
    EXPECT_TRUE(sink->keeps(LogLevel::Default));

    if (!c.stderrEnv) continue;
    setLogSink(sink);
    testing::internal::CaptureStderr();
    log.debug("rect=%s", {"(1, 2, 3, 4)"});
    log.info("switch ok=%{bool}d", {true});
    const std::string out = testing::internal::GetCapturedStderr();
    setLogSink(nullptr);
    EXPECT_EQ(out, std::string(c.keepsDebug ? "velmora[Routing] rect=(1, 2, 3, 4)\n" : "") +
                       "velmora[Routing] switch ok=true\n");
  }
}

}  // namespace
}  // namespace velmora::linuxos
