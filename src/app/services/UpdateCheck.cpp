#include "app/services/UpdateCheck.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include "app/services/UrlPolicy.h"

namespace velmora::app {

namespace {

UpdateCheckResult failure(UpdateError error, QString detail) {
  UpdateCheckResult r;
  r.kind = UpdateCheckResult::Kind::error;
  r.error = error;
  r.detail = std::move(detail);
  return r;
}

bool isCertificateError(QNetworkReply::NetworkError e) {
  return e == QNetworkReply::SslHandshakeFailedError;
}

}  // namespace

UpdateCheck::UpdateCheck(QObject* parent) : QObject(parent) {
  // Every redirect is checked against the same rules as the feed address.
  network_.setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
}

UpdateCheckResult UpdateCheck::evaluate(const QByteArray& feed, const QString& installedVersion) {
  const AppcastParse parsed = parseAppcast(feed);
  if (!parsed.error.isEmpty()) return failure(UpdateError::badFeed, parsed.error);
  UpdateCheckResult r;
  const auto newest = newestItem(parsed.items);
  if (newest && compareVersions(newest->version, installedVersion) > 0) {
    r.kind = UpdateCheckResult::Kind::updateAvailable;
    r.item = *newest;
  } else {
    r.kind = UpdateCheckResult::Kind::upToDate;
  }
  return r;
}

void UpdateCheck::start(const QUrl& feed, const QString& installedVersion) {
  if (running_) return;
  running_ = true;
  if (!isAllowedServiceUrl(feed)) {
    const QString detail = feed.isEmpty() ? QStringLiteral("no update feed is configured")
                                          : QStringLiteral("the feed address is not https");
    // Reported from the event loop, like every other outcome.
    QTimer::singleShot(0, this, [this, detail] { complete(failure(UpdateError::noFeed, detail)); });
    return;
  }
  QNetworkRequest request(feed);
  request.setTransferTimeout(kTimeoutMs);
  request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
  QNetworkReply* reply = network_.get(request);
  connect(reply, &QNetworkReply::redirected, reply, [reply](const QUrl& target) {
    if (isAllowedServiceUrl(target)) {
      emit reply->redirectAllowed();
    } else {
      reply->setProperty("abortReason", QStringLiteral("the feed redirects to an address that is not https"));
      reply->abort();
    }
  });
  connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64) {
    if (received > kMaxFeedBytes) {
      reply->setProperty("abortReason", QStringLiteral("the feed is too large"));
      reply->abort();
    }
  });
  connect(reply, &QNetworkReply::finished, this,
          [this, reply, installedVersion] { onReplyFinished(reply, installedVersion); });
}

void UpdateCheck::onReplyFinished(QNetworkReply* reply, const QString& installedVersion) {
  reply->deleteLater();
  const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
  if (reply->error() == QNetworkReply::OperationCanceledError)
    return complete(failure(UpdateError::badFeed, reply->property("abortReason").toString()));
  if (isCertificateError(reply->error())) return complete(failure(UpdateError::certificate, reply->errorString()));
  if (reply->error() != QNetworkReply::NoError || status < 200 || status >= 300)
    return complete(failure(UpdateError::network, reply->errorString()));
  const QByteArray body = reply->read(kMaxFeedBytes + 1);
  if (body.size() > kMaxFeedBytes)
    return complete(failure(UpdateError::badFeed, QStringLiteral("the feed is too large")));
  complete(evaluate(body, installedVersion));
}

void UpdateCheck::complete(UpdateCheckResult result) {
  running_ = false;
  emit finished(result);
}

}  // namespace velmora::app
