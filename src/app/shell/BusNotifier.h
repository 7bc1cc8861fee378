#pragma once

// Runs an sd-bus connection on the Qt event loop of the thread that makes it:
// its descriptor through socket notifiers, its timeout through a timer. The
// bus is then only touched from that thread, without a thread of its own or
// any lock.

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>

struct sd_bus;

namespace velmora::app {

class BusNotifier final : public QObject {
 public:
  // ended is called once, with sd-bus's negative error, when the connection
  // is gone; nothing is processed after that.
  BusNotifier(sd_bus* bus, std::function<void(int error)> ended, QObject* parent = nullptr);

  // Call after sending or calling: what the connection waits for may have
  // changed (data left to write, a reply's time limit).
  void rearm();

 private:
  void process();
  void end(int error);

  sd_bus* bus_;
  std::function<void(int)> ended_;
  QSocketNotifier read_;
  QSocketNotifier write_;
  QTimer timer_;
  bool over_ = false;
};

}  // namespace velmora::app
