#pragma once

// A crash record as the crash handler writes it, and the Sentry envelope that
// carries it to the crash-report project.

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velmora::app {

struct CrashRecord {
  struct Module {
    std::uint64_t base = 0;
    std::string path;
  };
  struct Frame {
    std::uint64_t address = 0;
    std::optional<std::size_t> module;  // index into modules
    std::uint64_t offset = 0;
  };

  std::string release;
  std::int64_t time = 0;
  int signal = 0;
  int code = 0;
  std::optional<std::uint64_t> address;  // the faulting address, when there is one
  std::int64_t thread = 0;
  bool terminate = false;     // std::terminate rather than a signal
  std::string exceptionType;  // mangled, when an exception was in flight
  std::vector<Module> modules;
  std::vector<Frame> frames;  // innermost first
};

// None for anything that is not a whole record of a known version.
std::optional<CrashRecord> parseCrashRecord(const std::string& text);

struct SentryDsn {
  QString raw;
  QString publicKey;
  QString projectId;
  QUrl envelopeUrl;  // <scheme>://<host>[:port][/path]/api/<project>/envelope/
};

// https DSNs, or http to a loopback host; none for anything else.
std::optional<SentryDsn> parseSentryDsn(const QString& dsn);

// The X-Sentry-Auth header value.
QByteArray sentryAuthHeader(const SentryDsn& dsn, const QString& clientVersion);

struct EnvelopeOptions {
  QString release;  // used when the record names none
  QString environment = QStringLiteral("production");
  bool attachStacktrace = true;
  QString homePath;  // paths under it are sent as "~/..."
};

// eventId: 32 lowercase hex digits.
QByteArray buildCrashEnvelope(const CrashRecord& record, const SentryDsn& dsn, const QString& eventId,
                              const EnvelopeOptions& options);

// 32 random lowercase hex digits from the system's generator.
QString newEventId();

}  // namespace velmora::app
