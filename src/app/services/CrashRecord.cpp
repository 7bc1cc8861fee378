#include "app/services/CrashRecord.h"

#include <cxxabi.h>
#include <signal.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <charconv>
#include <cstdlib>
#include <sstream>

#include "app/services/UrlPolicy.h"

namespace velmora::app {

namespace {

template <typename T>
bool parseNumber(const std::string& s, T& out, int base = 10) {
  std::string_view v = s;
  if (base == 16) {
    if (!v.starts_with("0x")) return false;
    v.remove_prefix(2);
  }
  const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), out, base);
  return ec == std::errc() && end == v.data() + v.size() && !v.empty();
}

QString hex(std::uint64_t v) {
  return QStringLiteral("0x%1").arg(v, 0, 16);
}

struct SignalName {
  int number;
  const char* name;
  const char* description;
};

constexpr SignalName kSignals[] = {
    {SIGSEGV, "SIGSEGV", "Segmentation fault"},
    {SIGBUS, "SIGBUS", "Bus error"},
    {SIGILL, "SIGILL", "Illegal instruction"},
    {SIGFPE, "SIGFPE", "Floating-point exception"},
    {SIGABRT, "SIGABRT", "Aborted"},
    {SIGTRAP, "SIGTRAP", "Trace/breakpoint trap"},
    {SIGSYS, "SIGSYS", "Bad system call"},
};

const SignalName* signalName(int sig) {
  for (const auto& s : kSignals)
    if (s.number == sig) return &s;
  return nullptr;
}

QString demangle(const std::string& mangled) {
  int status = 0;
  char* out = abi::__cxa_demangle(mangled.c_str(), nullptr, nullptr, &status);
  QString result = status == 0 && out ? QString::fromUtf8(out) : QString::fromStdString(mangled);
  std::free(out);
  return result;
}

QString scrubPath(const std::string& path, const QString& home) {
  QString p = QString::fromStdString(path);
  if (!home.isEmpty() && home != "/" && (p == home || p.startsWith(home + "/"))) p = "~" + p.mid(home.size());
  return p;
}

}  // namespace

std::optional<CrashRecord> parseCrashRecord(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != "velmora-crash 1") return std::nullopt;
  CrashRecord r;
  bool haveSignal = false, haveTime = false, ended = false;
  while (std::getline(in, line)) {
    if (line == "end") {
      ended = true;
      break;
    }
    const auto space = line.find(' ');
    const std::string key = line.substr(0, space);
    const std::string value = space == std::string::npos ? std::string() : line.substr(space + 1);
    bool ok = true;
    if (key == "release") {
      r.release = value;
    } else if (key == "time") {
      ok = haveTime = parseNumber(value, r.time);
    } else if (key == "signal") {
      ok = haveSignal = parseNumber(value, r.signal);
    } else if (key == "code") {
      ok = parseNumber(value, r.code);
    } else if (key == "address") {
      std::uint64_t a = 0;
      ok = parseNumber(value, a, 16);
      r.address = a;
    } else if (key == "thread") {
      ok = parseNumber(value, r.thread);
    } else if (key == "mechanism") {
      r.terminate = value == "terminate";
    } else if (key == "exception") {
      r.exceptionType = value;
    } else if (key == "module") {
      // "module <index> <base> <path>", indices in order
      std::istringstream f(value);
      std::string index, base;
      f >> index >> base;
      std::string path;
      std::getline(f, path);
      std::size_t i = 0;
      CrashRecord::Module m;
      ok = parseNumber(index, i) && i == r.modules.size() && parseNumber(base, m.base, 16) && path.size() > 1;
      m.path = ok ? path.substr(1) : std::string();
      if (ok) r.modules.push_back(std::move(m));
    } else if (key == "frame") {
      // "frame <address> [<module> <offset>]"
      std::istringstream f(value);
      std::string address, module, offset;
      f >> address >> module >> offset;
      CrashRecord::Frame fr;
      ok = parseNumber(address, fr.address, 16);
      if (ok && !module.empty()) {
        std::size_t m = 0;
        ok = parseNumber(module, m) && m < r.modules.size() && parseNumber(offset, fr.offset, 16);
        fr.module = m;
      }
      if (ok) r.frames.push_back(fr);
    }
    if (!ok) return std::nullopt;
  }
  if (!ended || !haveSignal || !haveTime) return std::nullopt;
  return r;
}

std::optional<SentryDsn> parseSentryDsn(const QString& raw) {
  const QUrl url(raw, QUrl::StrictMode);
  if (!isAllowedServiceUrl(url) || url.userName().isEmpty()) return std::nullopt;
  QString path = url.path();
  while (path.endsWith('/'))
    path.chop(1);
  const int slash = path.lastIndexOf('/');
  const QString project = path.mid(slash + 1);
  if (project.isEmpty()) return std::nullopt;
  for (QChar c : project)
    if (!c.isDigit() && !c.isLetter() && c != '-' && c != '_') return std::nullopt;

  SentryDsn dsn;
  dsn.raw = raw;
  dsn.publicKey = url.userName();
  dsn.projectId = project;
  QUrl endpoint;
  endpoint.setScheme(url.scheme());
  endpoint.setHost(url.host());
  endpoint.setPort(url.port());
  endpoint.setPath(path.left(slash) + "/api/" + project + "/envelope/");
  dsn.envelopeUrl = endpoint;
  return dsn;
}

QByteArray sentryAuthHeader(const SentryDsn& dsn, const QString& clientVersion) {
  return QStringLiteral("Sentry sentry_version=7, sentry_client=velmora-crash/%1, sentry_key=%2")
      .arg(clientVersion, dsn.publicKey)
      .toUtf8();
}

QString newEventId() {
  // The kernel's generator (getrandom): ids must not repeat across runs.
  quint32 words[4];
  QRandomGenerator::system()->fillRange(words);
  return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(words), sizeof words).toHex());
}

QByteArray buildCrashEnvelope(const CrashRecord& record, const SentryDsn& dsn, const QString& eventId,
                              const EnvelopeOptions& options) {
  const SignalName* sig = signalName(record.signal);
  const QString sigName = sig ? QString::fromLatin1(sig->name) : QStringLiteral("signal %1").arg(record.signal);

  QJsonObject mechanism{
      {"type", record.terminate ? "terminate" : "signalhandler"},
      {"handled", false},
      {"synthetic", true},
      {"meta",
       QJsonObject{{"signal", QJsonObject{{"number", record.signal}, {"code", record.code}, {"name", sigName}}}}},
  };

  QJsonObject exception{{"mechanism", mechanism}, {"thread_id", static_cast<qint64>(record.thread)}};
  if (record.terminate) {
    exception["type"] =
        record.exceptionType.empty() ? QStringLiteral("std::terminate") : demangle(record.exceptionType);
    exception["value"] =
        record.exceptionType.empty() ? QStringLiteral("std::terminate called") : QStringLiteral("uncaught exception");
  } else {
    exception["type"] = sigName;
    const QString description = sig ? QString::fromLatin1(sig->description) : sigName;
    exception["value"] =
        record.address ? QStringLiteral("%1 at address %2").arg(description, hex(*record.address)) : description;
  }

  if (options.attachStacktrace && !record.frames.empty()) {
    QJsonArray frames;
    // Sentry lists frames outermost first.
    for (auto it = record.frames.rbegin(); it != record.frames.rend(); ++it) {
      QJsonObject frame{{"instruction_addr", hex(it->address)}};
      if (it->module) {
        const auto& m = record.modules[*it->module];
        frame["package"] = scrubPath(m.path, options.homePath);
        frame["image_addr"] = hex(m.base);
      }
      frames.append(frame);
    }
    exception["stacktrace"] = QJsonObject{{"frames", frames}};
  }

  QJsonArray images;
  for (const auto& m : record.modules)
    images.append(
        QJsonObject{{"type", "elf"}, {"image_addr", hex(m.base)}, {"code_file", scrubPath(m.path, options.homePath)}});

  QJsonObject thread;
  thread["id"] = static_cast<qint64>(record.thread);
  thread["crashed"] = true;
  thread["current"] = true;

  const QString release = record.release.empty() ? options.release : QString::fromStdString(record.release);
  QJsonObject event{
      {"event_id", eventId},
      {"timestamp", static_cast<qint64>(record.time)},
      {"platform", "native"},
      {"level", "fatal"},
      {"release", release},
      {"environment", options.environment},
      {"exception", QJsonObject{{"values", QJsonArray{exception}}}},
      {"threads", QJsonObject{{"values", QJsonArray{thread}}}},
      {"contexts", QJsonObject{{"os", QJsonObject{{"name", "Linux"}}}}},
      {"sdk", QJsonObject{{"name", "velmora.crash"}, {"version", "1"}}},
  };
  if (!images.isEmpty()) event["debug_meta"] = QJsonObject{{"images", images}};

  const QByteArray payload = QJsonDocument(event).toJson(QJsonDocument::Compact);
  const QJsonObject header{
      {"event_id", eventId},
      {"dsn", dsn.raw},
      {"sent_at", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
  };
  const QJsonObject itemHeader{{"type", "event"}, {"length", static_cast<qint64>(payload.size())}};
  return QJsonDocument(header).toJson(QJsonDocument::Compact) + '\n' +
         QJsonDocument(itemHeader).toJson(QJsonDocument::Compact) + '\n' + payload + '\n';
}

}  // namespace velmora::app
