#include "app/services/UrlPolicy.h"

#include <QHostAddress>

namespace velmora::app {

bool isAllowedServiceUrl(const QUrl& url) {
  if (!url.isValid() || url.host().isEmpty()) return false;
  const QString scheme = url.scheme().toLower();
  if (scheme == "https") return true;
  if (scheme != "http") return false;
  const QString host = url.host().toLower();
  if (host == "localhost") return true;
  const QHostAddress address(host);
  return !address.isNull() && address.isLoopback();
}

}  // namespace velmora::app
