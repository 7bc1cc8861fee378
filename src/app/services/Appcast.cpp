#include "app/services/Appcast.h"

#include <QXmlStreamReader>

namespace velmora::app {

namespace {

constexpr auto kSparkleNamespace = "http://www.andymatuschak.org/xml-namespaces/sparkle";

enum class PartType { number, period, text };

struct Part {
  PartType type;
  QString text;
};

PartType typeOf(QChar c) {
  if (c == '.') return PartType::period;
  if (c >= '0' && c <= '9') return PartType::number;
  return PartType::text;
}

std::vector<Part> splitVersion(const QString& v) {
  std::vector<Part> parts;
  for (QChar c : v) {
    const PartType t = typeOf(c);
    // Each period is a part of its own; other runs of one type form one part.
    if (parts.empty() || parts.back().type != t || t == PartType::period)
      parts.push_back({t, QString(c)});
    else
      parts.back().text += c;
  }
  return parts;
}

// Digit strings of any length, without overflow.
int compareNumbers(QString a, QString b) {
  while (a.size() > 1 && a[0] == '0')
    a.remove(0, 1);
  while (b.size() > 1 && b[0] == '0')
    b.remove(0, 1);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

int sign(int v) {
  return (v > 0) - (v < 0);
}

}  // namespace

int compareVersions(const QString& a, const QString& b) {
  const auto pa = splitVersion(a);
  const auto pb = splitVersion(b);
  const std::size_t n = std::min(pa.size(), pb.size());
  for (std::size_t i = 0; i < n; ++i) {
    const Part& x = pa[i];
    const Part& y = pb[i];
    if (x.type == y.type) {
      if (x.type == PartType::number) {
        if (int c = compareNumbers(x.text, y.text)) return sign(c);
      } else if (x.type == PartType::text) {
        if (int c = x.text.compare(y.text)) return sign(c);
      }
      continue;
    }
    // A number or period outranks text; a number outranks a period.
    if (x.type != PartType::text && y.type == PartType::text) return 1;
    if (x.type == PartType::text && y.type != PartType::text) return -1;
    return x.type == PartType::number ? 1 : -1;
  }
  if (pa.size() == pb.size()) return 0;
  // The longer one is newer unless what it adds starts with text (a beta of the
  // shorter one, "1.0b1" < "1.0").
  const bool aLonger = pa.size() > pb.size();
  const Part& extra = aLonger ? pa[n] : pb[n];
  const bool longerNewer = extra.type != PartType::text;
  return (aLonger == longerNewer) ? 1 : -1;
}

std::optional<QUrl> AppcastItem::downloadPage() const {
  for (const QUrl& url : {link, enclosureUrl})
    if (url.isValid() && url.scheme().toLower() == "https" && !url.host().isEmpty()) return url;
  return std::nullopt;
}

AppcastParse parseAppcast(const QByteArray& xml) {
  AppcastParse result;
  QXmlStreamReader reader(xml);
  bool sawRss = false, sawChannel = false;
  std::optional<AppcastItem> item;
  const QString sparkle = QString::fromLatin1(kSparkleNamespace);

  while (!reader.atEnd()) {
    const auto token = reader.readNext();
    if (token == QXmlStreamReader::StartElement) {
      const auto name = reader.name();
      const bool isSparkle = reader.namespaceUri() == sparkle;
      const bool isPlain = reader.namespaceUri().isEmpty();
      if (!sawRss) {
        if (name != QLatin1String("rss")) {
          result.error = QStringLiteral("the document is not an RSS feed");
          return result;
        }
        sawRss = true;
      } else if (name == QLatin1String("channel") && isPlain) {
        sawChannel = true;
      } else if (name == QLatin1String("item") && isPlain && sawChannel) {
        item = AppcastItem{};
      } else if (item) {
        if (name == QLatin1String("title") && isPlain) {
          item->title = reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (name == QLatin1String("link") && isPlain) {
          item->link = QUrl(reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed());
        } else if (name == QLatin1String("version") && isSparkle) {
          item->version = reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (name == QLatin1String("shortVersionString") && isSparkle) {
          item->displayVersion = reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
        } else if (name == QLatin1String("enclosure") && isPlain) {
          const auto attrs = reader.attributes();
          item->enclosureUrl = QUrl(attrs.value("url").toString().trimmed());
          // Element values win over the older enclosure attributes.
          if (item->version.isEmpty()) item->version = attrs.value(sparkle, "version").toString().trimmed();
          if (item->displayVersion.isEmpty())
            item->displayVersion = attrs.value(sparkle, "shortVersionString").toString().trimmed();
        }
      }
    } else if (token == QXmlStreamReader::EndElement && item && reader.name() == QLatin1String("item") &&
               reader.namespaceUri().isEmpty()) {
      if (!item->version.isEmpty()) result.items.push_back(std::move(*item));
      item.reset();
    }
  }
  if (reader.hasError()) {
    result.items.clear();
    result.error = QStringLiteral("line %1: %2").arg(reader.lineNumber()).arg(reader.errorString());
  } else if (!sawChannel) {
    result.items.clear();
    result.error = QStringLiteral("the feed has no channel");
  }
  return result;
}

std::optional<AppcastItem> newestItem(const std::vector<AppcastItem>& items) {
  std::optional<AppcastItem> best;
  for (const auto& item : items)
    if (!best || compareVersions(item.version, best->version) > 0) best = item;
  return best;
}

}  // namespace velmora::app
