#pragma once

// One appcast check: fetch the feed, pick the newest item, compare it with the
// installed build. No user interface, so it can be tested on its own.

#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include "app/services/Appcast.h"

class QNetworkReply;

namespace velmora::app {

enum class UpdateError { noFeed, network, certificate, badFeed };

struct UpdateCheckResult {
  enum class Kind { upToDate, updateAvailable, error };
  Kind kind = Kind::error;
  AppcastItem item;  // the newest item when an update is available
  UpdateError error = UpdateError::network;
  QString detail;  // technical reason, for the alert's details
};

class UpdateCheck : public QObject {
  Q_OBJECT

 public:
  static constexpr qint64 kMaxFeedBytes = 4 * 1024 * 1024;
  static constexpr int kTimeoutMs = 30000;

  explicit UpdateCheck(QObject* parent = nullptr);

  // Starts a check; finished() follows exactly once, also for a bad address.
  // Ignored while a check runs.
  void start(const QUrl& feed, const QString& installedVersion);
  bool isRunning() const { return running_; }

  // Pure decision on a downloaded feed.
  static UpdateCheckResult evaluate(const QByteArray& feed, const QString& installedVersion);

 signals:
  void finished(const velmora::app::UpdateCheckResult& result);

 private:
  void complete(UpdateCheckResult result);
  void onReplyFinished(QNetworkReply* reply, const QString& installedVersion);

  QNetworkAccessManager network_;
  bool running_ = false;
};

}  // namespace velmora::app
