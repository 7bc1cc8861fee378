#include "platform/Log.h"

#include <mutex>

namespace velmora {

namespace {

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}

std::shared_ptr<LogSink>& sinkSlot() {
  static std::shared_ptr<LogSink> sink;
  return sink;
}

constexpr const char* kBadArgument = "<?>";

struct Renderer {
  std::string& out;

  void integer(const LogArg* arg, bool wantSigned) {
    if (!arg) {
      out += kBadArgument;
      return;
    }
    const auto& v = arg->value();
    if (const auto* s = std::get_if<std::int64_t>(&v)) {
      // Like printf, a signed value printed with %u shows its bit pattern.
      out += wantSigned ? std::to_string(*s) : std::to_string(static_cast<std::uint32_t>(*s));
    } else if (const auto* u = std::get_if<std::uint64_t>(&v)) {
      out += wantSigned ? std::to_string(static_cast<std::int64_t>(*u)) : std::to_string(*u);
    } else if (const auto* b = std::get_if<bool>(&v)) {
      out += *b ? "1" : "0";
    } else {
      out += kBadArgument;
    }
  }
};

}  // namespace

void setLogSink(std::shared_ptr<LogSink> sink) {
  std::lock_guard lock(sinkMutex());
  sinkSlot() = std::move(sink);
}

std::shared_ptr<LogSink> logSink() {
  std::lock_guard lock(sinkMutex());
  return sinkSlot();
}

const char* logLevelName(LogLevel level) {
  return level == LogLevel::Debug ? "debug" : "default";
}

std::string formatLogMessage(std::string_view fmt, std::initializer_list<LogArg> args) {
  std::string out;
  out.reserve(fmt.size() + 16);
  const LogArg* next = args.begin();
  auto take = [&]() -> const LogArg* { return next != args.end() ? next++ : nullptr; };
  Renderer r{out};

  for (std::size_t i = 0; i < fmt.size(); ++i) {
    char c = fmt[i];
    if (c != '%') {
      out += c;
      continue;
    }
    std::string_view rest = fmt.substr(i + 1);
    if (rest.starts_with("%")) {
      out += '%';
      i += 1;
    } else if (rest.starts_with("{bool}d")) {
      const LogArg* a = take();
      bool ok = false;
      bool value = false;
      if (a) {
        if (const auto* b = std::get_if<bool>(&a->value())) {
          ok = true;
          value = *b;
        } else if (const auto* s = std::get_if<std::int64_t>(&a->value())) {
          ok = true;
          value = *s != 0;
        } else if (const auto* u = std::get_if<std::uint64_t>(&a->value())) {
          ok = true;
          value = *u != 0;
        }
      }
      out += ok ? (value ? "true" : "false") : kBadArgument;
      i += 7;
    } else {
      // Skip length modifiers.
      std::size_t j = 0;
      while (j < rest.size() && (rest[j] == 'l' || rest[j] == 'h' || rest[j] == 'z'))
        ++j;
      if (j >= rest.size()) {
        out += '%';
        continue;
      }
      char conv = rest[j];
      switch (conv) {
        case 'd':
        case 'i':
          r.integer(take(), true);
          break;
        case 'u':
          r.integer(take(), false);
          break;
        case 's': {
          const LogArg* a = take();
          const auto* s = a ? std::get_if<std::string>(&a->value()) : nullptr;
          out += s ? *s : kBadArgument;
          break;
        }
        case 'c': {
          const LogArg* a = take();
          if (a && std::holds_alternative<std::int64_t>(a->value()))
            out += static_cast<char>(std::get<std::int64_t>(a->value()));
          else if (a && std::holds_alternative<std::uint64_t>(a->value()))
            out += static_cast<char>(std::get<std::uint64_t>(a->value()));
          else
            out += kBadArgument;
          break;
        }
        default:
          // Unknown conversion: keep it as written.
          out += '%';
          out.append(rest.substr(0, j + 1));
          break;
      }
      i += j + 1;
    }
  }
  return out;
}

Logger::Logger(std::string subsystem, std::string category)
    : subsystem_(std::move(subsystem)), category_(std::move(category)) {}

bool Logger::enabled(LogLevel level) const {
  auto sink = logSink();
  return sink && sink->keeps(level);
}

void Logger::log(LogLevel level, std::string_view fmt, std::initializer_list<LogArg> args) const {
  auto sink = logSink();
  if (!sink || !sink->keeps(level)) return;
  sink->write(LogRecord{subsystem_, category_, level, formatLogMessage(fmt, args)});
}

}  // namespace velmora
