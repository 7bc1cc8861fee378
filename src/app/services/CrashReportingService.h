#pragma once

// The user's consent to crash reports and the start of the crash reporter.

#include <QSettings>
#include <functional>
#include <memory>
#include <string>

#include "app/services/ShellServices.h"

namespace velmora::app {

class CrashUploader;

// What the crash reporter is started with. Options of other platforms' crash
// SDKs (their exceptions, swizzling, metrics, sessions, tracing, network
// tracking) have no counterpart here and do not exist.
struct CrashReporterOptions {
  std::string dsn;
  std::string releaseName;
  std::string environment;
  bool attachStacktrace = false;
  // Nothing personal is ever collected; paths under $HOME are always scrubbed.
  bool sendDefaultPii = true;
};

void configureCrashReportingOptions(CrashReporterOptions& options, const std::string& version,
                                    const std::string& build);

// "Velmora@1.4+27"; an empty version or build becomes "?".
std::string crashReleaseName(const std::string& version, const std::string& build);

class CrashReportingService final : public CrashReporting {
 public:
  using Starter = std::function<void(const CrashReporterOptions&)>;

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
void startCrashReporter(const CrashReporterOptions& options, const std::string& crashDirectory);

}  // namespace velmora::app
