#pragma once

#include <QUrl>

namespace velmora::app {

// Whether the program may talk to url: https to any host, plain http only to
// the loopback interface (local test servers).
bool isAllowedServiceUrl(const QUrl& url);

}  // namespace velmora::app
