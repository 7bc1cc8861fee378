#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <set>

#include "ServiceTestSupport.h"
#include "app/services/CrashRecord.h"
#include "app/services/CrashReportingService.h"
#include "app/services/CrashUploader.h"
#include "app/services/Preferences.h"

namespace velmora::app {
namespace {

// Runs the crash helper and returns the signal that ended it (0 if none);
// what it printed goes to output.
int runCrashingChild(const QString& dir, const char* mode, const QString& output) {
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);
  test::ensureQtApp();
  QProcess child;
  child.setStandardOutputFile(output);
  child.start(VELMORA_CRASH_HELPER, {dir, mode});
  if (!child.waitForFinished(60000)) return -1;
  return child.exitStatus() == QProcess::CrashExit ? child.exitCode() : 0;
}

QStringList records(const QString& dir) {
  return QDir(dir).entryList({"*.crash*"}, QDir::Files, QDir::Name);
}

const QByteArray kRecord =
    "velmora-crash 1\n"
    "release Velmora@1.2+7\n"
    "time 1700000000\n"
    "signal 11\n"
    "code 1\n"
    "address 0x10\n"
    "thread 4242\n"
    "mechanism signal\n"
    "module 0 0x555500000000 /home/tester/apps/velmora\n"
    "module 1 0x7f0000000000 /usr/lib/libc.so.6\n"
    "frame 0x555500001234 0 0x1234\n"
    "frame 0x7f0000000042 1 0x42\n"
    "frame 0x9999\n"
    "end\n";

// Every way of dying leaves one finished record. The back ends' threads are
// covered too: a stack overflow on a queue thread is recorded, and when
// several threads fault at once the others wait until the first one's record
// is whole, which the repeated runs give a chance to go wrong.
TEST(CrashHandlerTest, EachCrashLeavesOneWholeRecordAndDiesOfItsSignal) {
  struct Case {
    const char* mode;
    int signal;
    int runs = 1;
  };
  for (const Case& c : {Case{"segv", SIGSEGV}, Case{"terminate", SIGABRT}, Case{"overflow-thread", SIGSEGV},
                        Case{"fault-threads", SIGSEGV, 5}}) {
    for (int run = 0; run < c.runs; ++run) {
      SCOPED_TRACE(std::string(c.mode) + " run " + std::to_string(run));
      QTemporaryDir tmp;
      const QString dir = tmp.filePath("cache/velmora/crashes");
      const QString printed = tmp.filePath("stdout");
      ASSERT_EQ(runCrashingChild(dir, c.mode, printed), c.signal);
      const QStringList files = records(dir);
      ASSERT_EQ(files.size(), 1) << "no temporary file is left behind: " << files.join(' ').toStdString();
      ASSERT_TRUE(files[0].endsWith(".crash")) << "the record was finished";
      const auto record = parseCrashRecord(test::readText(QDir(dir).filePath(files[0])));
      ASSERT_TRUE(record);
      EXPECT_EQ(record->signal, c.signal);
      EXPECT_EQ(record->release, "Velmora@9.9+99");
      EXPECT_GT(record->thread, 0);
      ASSERT_FALSE(record->frames.empty());
      bool helperFrame = false;
      for (const auto& f : record->frames) {
        if (!f.module) continue;
        const auto& m = record->modules[*f.module];
        EXPECT_EQ(f.address - f.offset, m.base);
        helperFrame |= m.path.ends_with("/velmora_crash_helper");
      }
      EXPECT_TRUE(helperFrame) << "frames name the module they lie in";
      const bool aborted = c.signal == SIGABRT;
      EXPECT_EQ(record->terminate, aborted);
      EXPECT_EQ(record->address.has_value(), !aborted) << "only a real fault has a faulting address";
      if (aborted) {
        EXPECT_EQ(record->exceptionType, "St13runtime_error");
      }
      if (c.mode == std::string("segv") && record->address) {
        EXPECT_EQ(QString("0x%1").arg(*record->address, 0, 16).toStdString(),
                  QString::fromStdString(test::readText(printed)).trimmed().toStdString())
            << "the protected page the helper wrote to";
      }
    }
  }
}

TEST(CrashRecordTest, ParserRejectsPartialOrDamagedRecords) {
  ASSERT_TRUE(parseCrashRecord(kRecord.toStdString()));
  std::string truncated = kRecord.toStdString();
  truncated.resize(truncated.find("end"));
  EXPECT_FALSE(parseCrashRecord(truncated));
  EXPECT_FALSE(parseCrashRecord(""));
  EXPECT_FALSE(parseCrashRecord("velmora-crash 2\nsignal 11\ntime 1\nend\n"));
  EXPECT_FALSE(parseCrashRecord("velmora-crash 1\nsignal eleven\ntime 1\nend\n"));
  EXPECT_FALSE(parseCrashRecord("velmora-crash 1\nsignal 11\ntime 1\nframe 0x1 5 0x1\nend\n"))
      << "a frame naming a module that does not exist";
}

TEST(CrashRecordTest, DsnGivesTheEnvelopeEndpoint) {
  auto dsn = parseSentryDsn("https://key1@o1.ingest.example.com/prefix/123");
  ASSERT_TRUE(dsn);
  EXPECT_EQ(dsn->publicKey, "key1");
  EXPECT_EQ(dsn->envelopeUrl.toString(), "https://o1.ingest.example.com/prefix/api/123/envelope/");
  EXPECT_TRUE(parseSentryDsn("http://k@127.0.0.1:9000/5"));
  EXPECT_FALSE(parseSentryDsn("https://k@example.com/"));
  // Crash data never travels in clear, nor without a public key.
  for (const char* dsn : {"http://k@example.com/5", "https://example.com/5", "not a url"}) {
    EXPECT_FALSE(parseSentryDsn(dsn)) << dsn;
    CrashReporterOptions options;
    options.dsn = dsn;
    QTemporaryDir tmp;
    EXPECT_EQ(startCrashReporter(options, tmp.filePath("crashes").toStdString()), CrashReporterStart::dsnRefused);
    EXPECT_FALSE(QDir(tmp.filePath("crashes")).exists()) << "a refused address starts nothing";
  }
}

class CrashUploaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::ensureQtApp();
    sink_ = std::make_shared<test::CapturingSink>();
    setLogSink(sink_);
    dir_ = tmp_.filePath("crashes");
    QDir().mkpath(dir_);
  }
  void TearDown() override { setLogSink(nullptr); }

  void upload(quint16 port) {
    auto dsn = parseSentryDsn(QStringLiteral("http://pubkey@127.0.0.1:%1/42").arg(port));
    ASSERT_TRUE(dsn);
    EnvelopeOptions options;
    options.release = "Velmora@0+0";
    options.homePath = "/home/tester";
    CrashUploader uploader(dir_, *dsn, options);
    QSignalSpy done(&uploader, &CrashUploader::finished);
    uploader.sendPending();
    ASSERT_TRUE(done.count() == 1 || done.wait(20000));
  }

  QTemporaryDir tmp_;
  QString dir_;
  std::shared_ptr<test::CapturingSink> sink_;
};

TEST_F(CrashUploaderTest, SendsOneEnvelopePerRecordAndDeletesWhatWasAccepted) {
  test::writeText(dir_ + "/1700000000-1-10.crash", kRecord);
  test::writeText(dir_ + "/1700000001-1-11.crash", "garbage");
  test::LocalHttpServer server;
  upload(server.port());

  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_TRUE(records(dir_).isEmpty());
  EXPECT_EQ(sink_->messages("CrashReporting"),
            std::vector<std::string>{"dropped unreadable crash record 1700000001-1-11.crash"});

  const auto& req = server.requests()[0];
  EXPECT_EQ(req.method, "POST");
  EXPECT_EQ(req.path, "/api/42/envelope/");
  EXPECT_EQ(req.headers.value("content-type"), "application/x-sentry-envelope");
  const QByteArray auth = req.headers.value("x-sentry-auth");
  EXPECT_TRUE(auth.startsWith("Sentry sentry_version=7, ")) << auth.constData();
  EXPECT_TRUE(auth.contains("sentry_key=pubkey")) << auth.constData();
  EXPECT_FALSE(req.body.contains("/home/tester")) << "home paths are scrubbed";

  const QList<QByteArray> lines = req.body.split('\n');
  ASSERT_GE(lines.size(), 3);
  const QJsonObject header = QJsonDocument::fromJson(lines[0]).object();
  const QJsonObject item = QJsonDocument::fromJson(lines[1]).object();
  const QJsonObject event = QJsonDocument::fromJson(lines[2]).object();
  EXPECT_FALSE(header["event_id"].toString().isEmpty());
  EXPECT_EQ(event["event_id"].toString(), header["event_id"].toString());
  EXPECT_EQ(item["type"].toString(), "event");
  EXPECT_EQ(item["length"].toInt(), lines[2].size());

  // The release is that of the run that crashed.
  for (const auto& [key, value] : {std::pair{"platform", "native"},
                                   {"level", "fatal"},
                                   {"release", "Velmora@1.2+7"},
                                   {"environment", "production"}})
    EXPECT_EQ(event[key].toString(), value) << key;
  EXPECT_EQ(event["timestamp"].toInteger(), 1700000000);
  EXPECT_FALSE(event.contains("server_name"));
  EXPECT_FALSE(event.contains("user"));
  const QJsonObject exception = event["exception"].toObject()["values"].toArray()[0].toObject();
  EXPECT_EQ(exception["type"].toString(), "SIGSEGV");
  EXPECT_EQ(exception["value"].toString(), "Segmentation fault at address 0x10");
  EXPECT_EQ(exception["mechanism"].toObject()["handled"].toBool(true), false);
  const QJsonArray frames = exception["stacktrace"].toObject()["frames"].toArray();
  ASSERT_EQ(frames.size(), 3);
  // Outermost first, as Sentry expects.
  EXPECT_EQ(frames[0].toObject()["instruction_addr"].toString(), "0x9999");
  EXPECT_EQ(frames[2].toObject()["instruction_addr"].toString(), "0x555500001234");
  EXPECT_EQ(frames[2].toObject()["package"].toString(), "~/apps/velmora");
  EXPECT_EQ(frames[1].toObject()["package"].toString(), "/usr/lib/libc.so.6");
}

TEST_F(CrashUploaderTest, RefusedOrUnreachableServerKeepsTheNewestTwentyRecords) {
  for (int i = 0; i < 25; ++i)
    test::writeText(dir_ + QStringLiteral("/17000000%1-1-1.crash").arg(10 + i), kRecord);
  test::writeText(dir_ + "/1700000099-1-1.crash.tmp", "half");

  test::LocalHttpServer refusing;
  refusing.respond(503);
  upload(refusing.port());
  EXPECT_EQ(refusing.requests().size(), 20u);
  QStringList left = records(dir_);
  ASSERT_EQ(left.size(), 20);
  EXPECT_EQ(left.first(), "1700000015-1-1.crash") << "the oldest were dropped";

  upload(test::LocalHttpServer::closedPort());
  EXPECT_EQ(records(dir_), left);
}

TEST(CrashReportingServiceTest, PreferenceDecidesAndLogsWhyNot) {
  QTemporaryDir tmp;
  const QString prefs = tmp.filePath("prefs.ini");
  auto sink = std::make_shared<test::CapturingSink>();
  setLogSink(sink);
  std::vector<CrashReporterOptions> starts;
  auto open = [prefs] { return std::make_unique<QSettings>(prefs, QSettings::IniFormat); };
  CrashReporterStart outcome = CrashReporterStart::started;
  auto record = [&](const CrashReporterOptions& o) {
    starts.push_back(o);
    return outcome;
  };

  CrashReportingService unconfigured("", open, record);
  unconfigured.startCrashReporting();
  unconfigured.toggleCrashReporting();  // off
  unconfigured.toggleCrashReporting();  // on again: still not configured
  EXPECT_TRUE(starts.empty());
  EXPECT_EQ(sink->messages("CrashReporting"),
            (std::vector<std::string>{"Sentry DSN is empty; skipping init", "Sentry DSN is empty; skipping init"}));
  QFile::remove(prefs);

  CrashReportingService service("https://k@example.com/1", open, record);
  EXPECT_TRUE(service.isCrashReportingEnabled()) << "absent means yes";
  service.startCrashReporting();
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].dsn, "https://k@example.com/1");
  EXPECT_FALSE(starts[0].sendDefaultPii);
  EXPECT_TRUE(starts[0].releaseName.starts_with("Velmora@"));

  service.toggleCrashReporting();
  EXPECT_FALSE(service.isCrashReportingEnabled());
  EXPECT_EQ(starts.size(), 1u);
  service.startCrashReporting();  // the next launch
  service.toggleCrashReporting();
  EXPECT_EQ(starts.size(), 2u) << "switching on starts at once";
  EXPECT_EQ(QSettings(prefs, QSettings::IniFormat).value(kCrashReportingEnabledKey).toBool(), true);

  const auto lines = sink->messages("CrashReporting");
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 2, lines.end()),
            (std::vector<std::string>{"Sentry initialized", "crash reporting disabled by user", "Sentry initialized"}));
  for (const auto& r : sink->records())
    EXPECT_EQ(r.subsystem, "co.quennet.velmora");

  EXPECT_EQ(crashReleaseName("1.4", "27"), "Velmora@1.4+27");
  EXPECT_EQ(crashReleaseName("1.4", ""), "Velmora@1.4+?");

  // What starting really did is what is logged.
  const std::pair<CrashReporterStart, const char*> outcomes[] = {
      {CrashReporterStart::handlersUnavailable,
       "Sentry initialized without crash handlers; only earlier reports are sent"},
      {CrashReporterStart::dsnRefused, "Sentry DSN refused; skipping init"},
  };
  for (const auto& [result, line] : outcomes) {
    outcome = result;
    service.startCrashReporting();
    EXPECT_EQ(sink->messages("CrashReporting").back(), line);
  }
  setLogSink(nullptr);
}

TEST(CrashRecordTest, EventIdsAreHexAndNeverRepeat) {
  std::set<QString> ids;
  for (int i = 0; i < 200; ++i) {
    const QString id = newEventId();
    EXPECT_TRUE(id.size() == 32 && id == id.toLower() && QByteArray::fromHex(id.toLatin1()).size() == 16)
        << id.toStdString();
    ids.insert(id);
  }
  EXPECT_EQ(ids.size(), 200u);
}

}  // namespace
}  // namespace velmora::app
