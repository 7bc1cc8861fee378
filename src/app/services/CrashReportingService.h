#pragma once

// The user's consent to crash reports and the start of the crash reporter.

#include <QSettings>
#include <functional>
#include <memory>
#include <string>

#include "app/services/ShellServices.h"

namespace velmora::app {

class CrashUploader;

// What the crash reporter is started with: fatal signals and std::terminate
// only; nothing about the user, their sessions or their network is recorded.
struct CrashReporterOptions {
  std::string dsn;
  std::string releaseName;
  std::string environment;
  bool attachStacktrace = false;
  // Nothing personal is ever collected; paths under $HOME are always scrubbed.
  bool sendDefaultPii = true;
};

// What starting the crash reporter did.
enum class CrashReporterStart {
  started,              // crashes are recorded and reports sent
  handlersUnavailable,  // reports of earlier runs are sent, new crashes are not recorded
  dsnRefused,           // the DSN is not one reports may go to: nothing started
};

void configureCrashReportingOptions(CrashReporterOptions& options, const std::string& version,
                                    const std::string& build);

// "Velmora@1.4+27"; an empty version or build becomes "?".
std::string crashReleaseName(const std::string& version, const std::string& build);

class CrashReportingService final : public CrashReporting {
 public:
  using Starter = std::function<CrashReporterStart(const CrashReporterOptions&)>;

  CrashReportingService(std::string dsn, std::function<std::unique_ptr<QSettings>()> openSettings, Starter start);
  ~CrashReportingService() override;

  bool isCrashReportingEnabled() override;
  void startCrashReporting() override;
  void toggleCrashReporting() override;

 private:
  std::string dsn_;
  std::function<std::unique_ptr<QSettings>()> openSettings_;
  Starter start_;
};

// Installs the crash handlers into crashDirectory and sends the records of
// earlier runs. The uploader lives until the process ends.
CrashReporterStart startCrashReporter(const CrashReporterOptions& options, const std::string& crashDirectory);

}  // namespace velmora::app
