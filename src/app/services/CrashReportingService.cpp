#include "app/services/CrashReportingService.h"

#include <QCoreApplication>
#include <QDir>

#include "app/services/CrashHandler.h"
#include "app/services/CrashUploader.h"
#include "app/services/Preferences.h"
#include "app/services/ServicesConfig.h"
#include "platform/Log.h"

namespace velmora::app {

namespace {

const Logger& crashLog() {
  static const Logger log(kVelmoraSubsystem, "CrashReporting");
  return log;
}

}  // namespace

std::string crashReleaseName(const std::string& version, const std::string& build) {
  return "Velmora@" + (version.empty() ? std::string("?") : version) + "+" + (build.empty() ? std::string("?") : build);
}

void configureCrashReportingOptions(CrashReporterOptions& options, const std::string& version,
                                    const std::string& build) {
  options.dsn = config::crashReportingDSN;
  options.releaseName = crashReleaseName(version, build);
  options.environment = "production";
  options.attachStacktrace = true;
  options.sendDefaultPii = false;
}

CrashReportingService::CrashReportingService(std::string dsn, std::function<std::unique_ptr<QSettings>()> openSettings,
                                             Starter start)
    : dsn_(std::move(dsn)), openSettings_(std::move(openSettings)), start_(std::move(start)) {}

CrashReportingService::~CrashReportingService() = default;

bool CrashReportingService::isCrashReportingEnabled() {
  auto settings = openSettings_();
  const QVariant value = settings->value(kCrashReportingEnabledKey);
  if (!value.isValid()) return true;
  // Strings such as "false" or "0" from a hand-edited file read as QVariant does.
  return value.toBool();
}

void CrashReportingService::startCrashReporting() {
  if (dsn_.empty()) {
    crashLog().info("Sentry DSN is empty; skipping init");
    return;
  }
  if (!isCrashReportingEnabled()) {
    crashLog().info("crash reporting disabled by user");
    return;
  }
  CrashReporterOptions options;
  configureCrashReportingOptions(options, config::kVersion, config::kBuildNumber);
  options.dsn = dsn_;
  switch (start_ ? start_(options) : CrashReporterStart::dsnRefused) {
    case CrashReporterStart::started:
      crashLog().info("Sentry initialized");
      break;
    case CrashReporterStart::handlersUnavailable:
      crashLog().info("Sentry initialized without crash handlers; only earlier reports are sent");
      break;
    case CrashReporterStart::dsnRefused:
      crashLog().info("Sentry DSN refused; skipping init");
      break;
  }
}

void CrashReportingService::toggleCrashReporting() {
  const bool enabled = isCrashReportingEnabled();
  // A choice that could not be saved changes nothing, so the menu keeps
  // showing what is in force.
  if (!storePreference(*openSettings_(), kCrashReportingEnabledKey, !enabled)) return;
  if (isCrashReportingEnabled()) startCrashReporting();
}

CrashReporterStart startCrashReporter(const CrashReporterOptions& options, const std::string& crashDirectory) {
  // Records that could never be sent are not written either, so they cannot
  // pile up unpruned.
  const auto dsn = parseSentryDsn(QString::fromStdString(options.dsn));
  if (!dsn) return CrashReporterStart::dsnRefused;
  const bool handlers = installCrashHandlers(crashDirectory, options.releaseName);
  if (!handlers) crashLog().info("crash handlers not installed: %s cannot be used", {crashDirectory});

  // One uploader for the whole run; a second start only sends again.
  static CrashUploader* uploader = nullptr;
  if (!uploader) {
    EnvelopeOptions envelope;
    envelope.release = QString::fromStdString(options.releaseName);
    envelope.environment = QString::fromStdString(options.environment);
    envelope.attachStacktrace = options.attachStacktrace;
    envelope.homePath = QDir::homePath();
    uploader = new CrashUploader(QString::fromStdString(crashDirectory), *dsn, envelope, QCoreApplication::instance());
  }
  uploader->sendPending();
  return handlers ? CrashReporterStart::started : CrashReporterStart::handlersUnavailable;
}

std::unique_ptr<CrashReporting> makeCrashReporting() {
  return std::make_unique<CrashReportingService>(
      config::crashReportingDSN, openPreferences,
      [](const CrashReporterOptions& options) { return startCrashReporter(options, defaultCrashDirectory()); });
}

}  // namespace velmora::app
