#include "app/services/CrashUploader.h"

#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>

#include "app/services/ServicesConfig.h"
#include "platform/Log.h"

namespace velmora::app {

namespace {

constexpr qint64 kMaxRecordBytes = 256 * 1024;
constexpr int kTimeoutMs = 30000;

const Logger& crashLog() {
  static const Logger log(kVelmoraSubsystem, "CrashReporting");
  return log;
}

}  // namespace

CrashUploader::CrashUploader(QString directory, SentryDsn dsn, EnvelopeOptions options, QObject* parent)
    : QObject(parent), directory_(std::move(directory)), dsn_(std::move(dsn)), options_(std::move(options)) {
  // A crash report never follows a redirect to a less safe place.
  network_.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
}

void CrashUploader::sendPending() {
  if (running_) return;
  QDir dir(directory_);
  // Leftovers of a crash that died while writing its record.
  for (const QString& name : dir.entryList({"*.crash.tmp"}, QDir::Files))
    dir.remove(name);

  // Names start with the crash time, so name order is age order.
  QStringList records = dir.entryList({"*.crash"}, QDir::Files, QDir::Name);
  while (records.size() > kMaxRecords)
    dir.remove(records.takeFirst());
  queue_ = records;
  running_ = true;
  sendNext();
}

void CrashUploader::sendNext() {
  while (!queue_.isEmpty()) {
    const QString name = queue_.takeFirst();
    const QString path = QDir(directory_).filePath(name);
    QFile file(path);
    std::optional<CrashRecord> record;
    if (file.open(QIODevice::ReadOnly) && file.size() <= kMaxRecordBytes)
      record = parseCrashRecord(file.readAll().toStdString());
    file.close();
    if (!record) {
      crashLog().info("dropped unreadable crash record %s", {name.toStdString()});
      QFile::remove(path);
      continue;
    }

    const QString eventId = newEventId();
    QNetworkRequest request(dsn_.envelopeUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/x-sentry-envelope");
    request.setRawHeader("X-Sentry-Auth", sentryAuthHeader(dsn_, config::kVersion));
    request.setTransferTimeout(kTimeoutMs);
    QNetworkReply* reply = network_.post(request, buildCrashEnvelope(*record, dsn_, eventId, options_));
    connect(reply, &QNetworkReply::finished, this, [this, reply, path, name] {
      reply->deleteLater();
      const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
      if (reply->error() == QNetworkReply::NoError && status >= 200 && status < 300) {
        QFile::remove(path);
      } else {
        // Kept for the next start.
        crashLog().debug("crash record %s not sent: %s", {name.toStdString(), reply->errorString().toStdString()});
      }
      sendNext();
    });
    return;
  }
  running_ = false;
  emit finished();
}

}  // namespace velmora::app
