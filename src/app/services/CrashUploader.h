#pragma once

// Sends the crash records left by earlier runs to the crash-report project, one
// Sentry envelope each, and deletes a record only once the server took it.

#include <QDir>
#include <QNetworkAccessManager>
#include <QObject>
#include <QStringList>

#include "app/services/CrashRecord.h"

namespace velmora::app {

class CrashUploader : public QObject {
  Q_OBJECT

 public:
  static constexpr int kMaxRecords = 20;

  CrashUploader(QString directory, SentryDsn dsn, EnvelopeOptions options, QObject* parent = nullptr);

  // Prunes to the newest kMaxRecords, drops unreadable records, then sends the
  // rest one after another. Does nothing while a run is in progress.
  void sendPending();
  bool isRunning() const { return running_; }

 signals:
  void finished();

 private:
  void sendNext();

  QString directory_;
  SentryDsn dsn_;
  EnvelopeOptions options_;
  QNetworkAccessManager network_;
  QStringList queue_;
  bool running_ = false;
};

}  // namespace velmora::app
