#include <gtest/gtest.h>

#include <QEventLoop>
#include <QSignalSpy>
#include <QTimer>

#include "ServiceTestSupport.h"
#include "app/services/Appcast.h"
#include "app/services/UpdateCheck.h"
#include "app/services/UpdaterService.h"

Q_DECLARE_METATYPE(velmora::app::UpdateCheckResult)

namespace velmora::app {
namespace {

TEST(VersionCompareTest, ComparesNumbersTextAndExtraPartsInOrder) {
  const std::pair<const char*, const char*> older[] = {
      {"1.0", "1.1"},        {"1.9", "1.10"}, {"1.0", "1.0.1"},    {"1.0b1", "1.0"},
      {"1.0a", "1.0b"},      {"2", "10"},     {"1.0b9", "1.0b10"}, {"99999999999999999999", "100000000000000000000"},
      {"1.0-beta", "1.0.1"},
  };
  for (const auto& [a, b] : older) {
    EXPECT_LT(compareVersions(a, b), 0) << a << " < " << b;
    EXPECT_GT(compareVersions(b, a), 0) << b << " > " << a;
  }
  EXPECT_EQ(compareVersions("1.0", "1.0"), 0);
  EXPECT_EQ(compareVersions("1.01", "1.1"), 0);
  EXPECT_EQ(compareVersions("", ""), 0);

  std::vector<AppcastItem> items(3);
  items[0].version = "5";
  items[1].version = "12";
  items[2].version = "12";
  items[2].title = "second";
  EXPECT_EQ(newestItem(items)->version, "12");
  EXPECT_NE(newestItem(items)->title, "second") << "the first of equals wins";
  EXPECT_FALSE(newestItem({}));
}

QByteArray feed(const QByteArray& items) {
  return "<?xml version=\"1.0\"?>\n"
         "<rss version=\"2.0\" xmlns:sparkle=\"http://www.andymatuschak.org/xml-namespaces/sparkle\">"
         "<channel><title>Velmora</title><link>https://example.com/</link>" +
         items + "</channel></rss>";
}

TEST(AppcastParseTest, ReadsElementsAndEnclosureAttributes) {
  const auto parsed =
      parseAppcast(feed("<item><title>A</title><link>https://example.com/a</link><sparkle:version>30</sparkle:version>"
                        "<sparkle:shortVersionString>1.3</sparkle:shortVersionString>"
                        "<atom:link xmlns:atom=\"http://www.w3.org/2005/Atom\" href=\"x\"/></item>"
                        "<item><title>B</title><enclosure url=\"https://example.com/b.tar.gz\" sparkle:version=\"31\""
                        " sparkle:shortVersionString=\"1.3.1\"/></item>"
                        "<item><title>no version</title></item>"));
  ASSERT_TRUE(parsed.error.isEmpty()) << parsed.error.toStdString();
  ASSERT_EQ(parsed.items.size(), 2u);
  EXPECT_EQ(parsed.items[0].displayVersion, "1.3");
  EXPECT_EQ(parsed.items[0].downloadPage(), QUrl("https://example.com/a"));
  EXPECT_EQ(parsed.items[1].version, "31");
  EXPECT_EQ(parsed.items[1].downloadPage(), QUrl("https://example.com/b.tar.gz"));

  AppcastItem plain;
  plain.link = QUrl("http://example.com/");
  plain.enclosureUrl = QUrl("javascript:alert(1)");
  EXPECT_FALSE(plain.downloadPage()) << "only https pages are opened";

  for (const char* bad :
       {"", "<rss><channel><item>", "<html><body/></html>", "<rss/>",
        "<rss><channel><item><sparkle:version>1</sparkle:version></item></channel></rss>", "\xff\xfe<\x00r"}) {
    const auto p = parseAppcast(QByteArray(bad));
    EXPECT_FALSE(p.error.isEmpty()) << bad;
    EXPECT_TRUE(p.items.empty());
  }
}

class UpdateCheckTest : public ::testing::Test {
 protected:
  UpdateCheckResult checkUrl(const QUrl& url, const QString& installed = "20") {
    UpdateCheck c;
    QSignalSpy done(&c, &UpdateCheck::finished);
    c.start(url, installed);
    EXPECT_TRUE(c.isRunning());
    EXPECT_TRUE(done.wait(20000));
    EXPECT_FALSE(c.isRunning());
    return done.isEmpty() ? UpdateCheckResult{} : done.first().first().value<UpdateCheckResult>();
  }

  // The application object must exist before the server's socket.
  const int metaType_ = (test::ensureQtApp(), qRegisterMetaType<UpdateCheckResult>());
  test::LocalHttpServer server_;
};

QByteArray item(const char* version, const char* display) {
  QByteArray out =
      "<item><link>https://example.com/get</link><sparkle:version>" + QByteArray(version) + "</sparkle:version>";
  if (display) out += "<sparkle:shortVersionString>" + QByteArray(display) + "</sparkle:shortVersionString>";
  return out + "</item>";
}

TEST_F(UpdateCheckTest, ComparesTheNewestItemWithTheInstalledBuildOrEndsInOneError) {
  using Kind = UpdateCheckResult::Kind;
  const QString served = QString::fromLatin1(server_.baseUrl() + "/appcast.xml");
  const QByteArray closed =
      "http://127.0.0.1:" + QByteArray::number(test::LocalHttpServer::closedPort()) + "/appcast.xml";
  struct Case {
    const char* what;
    QByteArray body;
    int status = 200;
    Kind kind = Kind::upToDate;
    const char* versionText = nullptr;
    std::optional<UpdateError> error = std::nullopt;
    const char* url = nullptr;  // the test server's feed
  };
  const Case cases[] = {
      {"newest out of order", feed(item("19", "0.9") + item("21", "1.1") + item("20", "1.0")), 200,
       Kind::updateAvailable, "1.1"},
      {"same build", feed(item("20", "1.0"))},
      {"older build", feed(item("3", "0.3"))},
      {"no items", feed("")},
      // No display version: empty text, not the build number.
      {"no display version", feed(item("25", nullptr)), 200, Kind::updateAvailable, ""},
      {"broken feed", "<rss><channel><item><title>unclosed", 200, Kind::error, nullptr, UpdateError::badFeed},
      {"HTTP error", "not found", 404, Kind::error, nullptr, UpdateError::network},
      {"nobody listening", {}, 200, Kind::error, nullptr, UpdateError::network, closed.constData()},
      {"no address", {}, 200, Kind::error, nullptr, UpdateError::noFeed, ""},
      {"plain http elsewhere", {}, 200, Kind::error, nullptr, UpdateError::noFeed, "http://example.com/appcast.xml"},
      {"not http", {}, 200, Kind::error, nullptr, UpdateError::noFeed, "ftp://127.0.0.1/a"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    server_.respond(c.status, c.body);
    const auto r = checkUrl(QUrl(c.url ? QString::fromLatin1(c.url) : served));
    EXPECT_EQ(r.kind, c.kind);
    if (c.versionText) {
      EXPECT_EQ(UpdaterService::versionText(r.item), c.versionText);
    }
    if (c.error) {
      EXPECT_EQ(r.error, *c.error);
    }
  }
  EXPECT_EQ(server_.requests().at(0).path, "/appcast.xml");
}

TEST_F(UpdateCheckTest, MenuItemIsUnavailableWhileACheckRuns) {
  server_.respond(200, feed(item("30", "3.0")));
  std::vector<UpdateCheckResult> shown;
  UpdaterService updater(QUrl(QString::fromLatin1(server_.baseUrl() + "/a.xml")), "20",
                         [&shown](QWidget*, const UpdateCheckResult& r) { shown.push_back(r); });
  std::vector<bool> availability;
  updater.setAvailabilityChangedHandler([&] { availability.push_back(updater.canCheckForUpdates()); });

  EXPECT_TRUE(updater.canCheckForUpdates());
  updater.checkForUpdates(nullptr);
  EXPECT_FALSE(updater.canCheckForUpdates());
  updater.checkForUpdates(nullptr);  // ignored while running
  QEventLoop loop;
  QTimer::singleShot(20000, &loop, &QEventLoop::quit);
  updater.setAvailabilityChangedHandler([&] {
    availability.push_back(updater.canCheckForUpdates());
    loop.quit();
  });
  loop.exec();
  EXPECT_TRUE(updater.canCheckForUpdates());
  EXPECT_EQ(availability, (std::vector<bool>{false, true}));
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, UpdateCheckResult::Kind::updateAvailable);
  EXPECT_EQ(server_.requests().size(), 1u);
}

}  // namespace
}  // namespace velmora::app
