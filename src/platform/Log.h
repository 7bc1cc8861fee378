#pragma once

// A log channel with subsystem and category, rendering printf-style formats
// (%u, %d, %ld, %s, %{bool}d, %%). Records go to one process-wide sink: memory
// in tests, the journal or stderr in the apps. A message is only rendered when
// the sink keeps records of its level.

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace velmora {

enum class LogLevel { Default, Debug };

struct LogRecord {
  std::string subsystem;
  std::string category;
  LogLevel level = LogLevel::Default;
  std::string message;
};

class LogSink {
 public:
  virtual ~LogSink() = default;
  // May be called from any thread.
  virtual void write(const LogRecord& record) = 0;
  // Whether write() would keep a record of this level; when it would not, the
  // message is never rendered. May be called from any thread.
  virtual bool keeps(LogLevel /*level*/) const { return true; }
};

// Installs the process-wide sink (nullptr discards). Thread-safe.
void setLogSink(std::shared_ptr<LogSink> sink);
std::shared_ptr<LogSink> logSink();

// One interpolated value; integer widths are kept apart by signedness only.
class LogArg {
 public:
  using Value = std::variant<std::int64_t, std::uint64_t, bool, std::string>;

  LogArg(int v) : value_(static_cast<std::int64_t>(v)) {}
  LogArg(long v) : value_(static_cast<std::int64_t>(v)) {}
  LogArg(long long v) : value_(static_cast<std::int64_t>(v)) {}
  LogArg(unsigned v) : value_(static_cast<std::uint64_t>(v)) {}
  LogArg(unsigned long v) : value_(static_cast<std::uint64_t>(v)) {}
  LogArg(unsigned long long v) : value_(static_cast<std::uint64_t>(v)) {}
  LogArg(bool v) : value_(v) {}
  LogArg(const char* v) : value_(std::string(v ? v : "(null)")) {}
  LogArg(std::string v) : value_(std::move(v)) {}
  LogArg(std::string_view v) : value_(std::string(v)) {}

  const Value& value() const { return value_; }

 private:
  Value value_;
};

// Renders fmt with args. Conversions: %d %i %ld %lld (signed), %u %lu %llu
// (unsigned), %s (text), %{bool}d (true/false), %c, %%. A missing or
// mismatched argument renders as "<?>" rather than failing.
std::string formatLogMessage(std::string_view fmt, std::initializer_list<LogArg> args);

const char* logLevelName(LogLevel level);

class Logger {
 public:
  Logger(std::string subsystem, std::string category);

  const std::string& subsystem() const { return subsystem_; }
  const std::string& category() const { return category_; }

  // Whether a record of this level would be kept; for callers whose
  // arguments cost something to build.
  bool enabled(LogLevel level) const;

  void log(LogLevel level, std::string_view fmt, std::initializer_list<LogArg> args = {}) const;
  void info(std::string_view fmt, std::initializer_list<LogArg> args = {}) const { log(LogLevel::Default, fmt, args); }
  void debug(std::string_view fmt, std::initializer_list<LogArg> args = {}) const { log(LogLevel::Debug, fmt, args); }

 private:
  std::string subsystem_;
  std::string category_;
};

inline constexpr const char* kVelmoraSubsystem = "co.quennet.velmora";

}  // namespace velmora
