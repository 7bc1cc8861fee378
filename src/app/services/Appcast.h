#pragma once

// Appcast feeds (RSS items with versions in the sparkle: namespace) and the
// order of version strings.

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <optional>
#include <vector>

namespace velmora::app {

struct AppcastItem {
  QString title;
  QString version;         // sparkle:version, compared with the installed build
  QString displayVersion;  // sparkle:shortVersionString, shown as it stands; may be empty
  QUrl link;               // the item's <link>: its download page
  QUrl enclosureUrl;

  // The page to open in the browser: the link, else the enclosure, https only.
  std::optional<QUrl> downloadPage() const;
};

struct AppcastParse {
  std::vector<AppcastItem> items;  // items without a version are left out
  QString error;                   // non-empty when the feed is not a valid appcast
};

AppcastParse parseAppcast(const QByteArray& xml);

// <0, 0, >0 as a is older than, the same as, or newer than b: digit runs
// compare as numbers, a number outranks text ("1.0" > "1.0b1"), and an extra
// numeric part makes a version newer ("1.0.1" > "1.0").
int compareVersions(const QString& a, const QString& b);

// The first of the newest items, if any.
std::optional<AppcastItem> newestItem(const std::vector<AppcastItem>& items);

}  // namespace velmora::app
