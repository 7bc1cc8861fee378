// The systemd journal, with subsystem and category as fields of their own so
// that `journalctl VELMORA_CATEGORY=Routing` finds a category; standard error
// when no journal is listening.

#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/linux/LinuxPlatform.h"

namespace velmora::linuxos {
namespace {

constexpr const char* kJournalSocket = "/run/systemd/journal/socket";

class SystemLogSink final : public LogSink {
 public:
  SystemLogSink()
      // VELMORA_LOG_STDERR keeps the lines on standard error even where a
      // journal listens, for tests and for running from a terminal.
      : journal_(::access(kJournalSocket, W_OK) == 0 && std::getenv("VELMORA_LOG_STDERR") == nullptr),
        // Debug lines come several times a second while tracking; journald
        // would store every one, so they are kept only when asked for.
        debug_(std::getenv("VELMORA_LOG_DEBUG") != nullptr) {}

  bool keeps(LogLevel level) const override { return level != LogLevel::Debug || debug_; }

  void write(const LogRecord& record) override {
    if (!keeps(record.level)) return;
    if (journal_) {
      const int priority = record.level == LogLevel::Debug ? LOG_DEBUG : LOG_NOTICE;
      // %s keeps a '%' in the message from being read as a conversion.
      const int result = sd_journal_send("MESSAGE=%s", record.message.c_str(), "PRIORITY=%d", priority,
                                         "SYSLOG_IDENTIFIER=velmora", "VELMORA_SUBSYSTEM=%s", record.subsystem.c_str(),
                                         "VELMORA_CATEGORY=%s", record.category.c_str(), nullptr);
      if (result >= 0) return;
    }
    // One write per record, so lines from several threads never interleave.
    const std::string line = "velmora[" + record.category + "] " + record.message + "\n";
    std::lock_guard lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
  }

 private:
  const bool journal_;
  const bool debug_;
  std::mutex mutex_;
};

}  // namespace

std::shared_ptr<LogSink> makeSystemLogSink() {
  return std::make_shared<SystemLogSink>();
}

}  // namespace velmora::linuxos
