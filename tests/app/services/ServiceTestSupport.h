#pragma once

// Shared pieces of the service tests: a Qt application object, a log capture,
// whole-file reads and writes, and a one-shot HTTP server on 127.0.0.1.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Log.h"

namespace velmora::test {

inline void ensureQtApp() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "velmora_services_test";
  static char* argv[] = {name, nullptr};
  static QCoreApplication app(argc, argv);
}

class CapturingSink : public LogSink {
 public:
  void write(const LogRecord& record) override {
    std::lock_guard lock(mutex_);
    records_.push_back(record);
  }
  std::vector<LogRecord> records() {
    std::lock_guard lock(mutex_);
    return records_;
  }
  std::vector<std::string> messages(const std::string& category) {
    std::vector<std::string> out;
    for (const auto& r : records())
      if (r.category == category) out.push_back(r.message);
    return out;
  }

 private:
  std::mutex mutex_;
  std::vector<LogRecord> records_;
};

inline std::string readText(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll().toStdString() : std::string();
}

// Makes the parent folders as needed.
inline void writeText(const QString& path, const QByteArray& text) {
  QDir().mkpath(QFileInfo(path).path());
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(text);
}

struct HttpRequest {
  QByteArray method;
  QByteArray path;
  QMap<QByteArray, QByteArray> headers;  // names in lower case
  QByteArray body;
};

// Answers every request with the configured status and body, and keeps the
// requests it received.
class LocalHttpServer {
 public:
  LocalHttpServer() {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
      while (QTcpSocket* socket = server_.nextPendingConnection())
        serve(socket);
    });
  }

  // A port on which nothing listens any more.
  static quint16 closedPort() { return LocalHttpServer().port(); }

  quint16 port() const { return server_.serverPort(); }
  QByteArray baseUrl() const { return "http://127.0.0.1:" + QByteArray::number(port()); }
  void respond(int status, QByteArray body = {}) {
    status_ = status;
    body_ = std::move(body);
  }
  const std::vector<HttpRequest>& requests() const { return requests_; }

 private:
  void serve(QTcpSocket* socket) {
    auto buffer = std::make_shared<QByteArray>();
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
      buffer->append(socket->readAll());
      const int headerEnd = buffer->indexOf("\r\n\r\n");
      if (headerEnd < 0) return;
      HttpRequest request;
      const QList<QByteArray> lines = buffer->left(headerEnd).split('\n');
      const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
      request.method = first.value(0);
      request.path = first.value(1);
      for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0) request.headers[lines[i].left(colon).trimmed().toLower()] = lines[i].mid(colon + 1).trimmed();
      }
      const int length = request.headers.value("content-length", "0").toInt();
      if (buffer->size() < headerEnd + 4 + length) return;
      request.body = buffer->mid(headerEnd + 4, length);
      requests_.push_back(request);
      socket->write("HTTP/1.1 " + QByteArray::number(status_) + " Status\r\nContent-Length: " +
                    QByteArray::number(body_.size()) + "\r\nConnection: close\r\n\r\n" + body_);
      socket->disconnectFromHost();
    });
  }

  QTcpServer server_;
  int status_ = 200;
  QByteArray body_;
  std::vector<HttpRequest> requests_;
};

}  // namespace velmora::test
