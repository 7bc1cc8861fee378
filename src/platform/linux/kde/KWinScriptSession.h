#pragma once

// The bus side of KWinScriptClient, on its thread: our connection, the
// object the script reports to, KWin's name on the bus, and the calls that
// load, run and unload the script, each answered asynchronously.

#include <systemd/sd-bus.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/linux/common/WorkerThread.h"
#include "platform/linux/kde/KWinScriptFile.h"

namespace velmora::linuxos {

class KWinScriptClient;
class KWinWindowList;

class KWinScriptSession {
 public:
  KWinScriptSession(KWinScriptClient& client, WorkerThread& worker);
  // Unloads the script from KWin, without waiting for an answer.
  ~KWinScriptSession();
  KWinScriptSession(const KWinScriptSession&) = delete;
  KWinScriptSession& operator=(const KWinScriptSession&) = delete;

  // Connects, writes the script, exports the report object and starts
  // following KWin; false with the reason in *why.
  bool open(std::string* why);
  // Until the thread is told to stop (true) or the bus is lost (false, with
  // the reason in *why).
  bool serve(std::string* why);

 private:
  using Clock = WorkerThread::Clock;

  void kwinChanged(std::optional<std::string> owner);
  void fireDueTimers();
  std::optional<Clock::time_point> nextTimer() const;

  // The load, one asynchronous step after another; a KWin that changes on
  // the way cancels the step in flight.
  bool callKWin(const char* path, const char* interface, const char* member, sd_bus_message_handler_t handler,
                const char* types = nullptr, const char* a = nullptr, const char* b = nullptr);
  void startLoad();
  void loadScript();
  void runScript(int step);
  void loadFailed(const std::string& why);
  void loaded();

  static int onIsLoaded(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int onStaleUnloaded(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int onLoadScript(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int onRun(sd_bus_message* m, void* userdata, sd_bus_error*);
  static int onReport(sd_bus_message* m, void* userdata, sd_bus_error* error);
  static int onNameOwnerChanged(sd_bus_message* m, void* userdata, sd_bus_error*);

  KWinScriptClient& client_;
  WorkerThread& worker_;
  KWinWindowList& windowList_;
  sd_bus* bus_ = nullptr;
  sd_bus_slot* objectSlot_ = nullptr;
  sd_bus_slot* matchSlot_ = nullptr;
  sd_bus_slot* pending_ = nullptr;  // the load step in flight
  std::unique_ptr<KWinScriptFile> script_;
  bool loaded_ = false;
  bool reportedSinceLoad_ = false;
  int attempts_ = 0;
  std::int32_t scriptId_ = -1;
  int runStep_ = 0;
  std::optional<Clock::time_point> loadAt_;     // next load attempt
  std::optional<Clock::time_point> missingAt_;  // KWin still absent: tell the user
  std::optional<Clock::time_point> silentAt_;   // script loaded but silent: tell the user
};

}  // namespace velmora::linuxos
