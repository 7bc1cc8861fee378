#pragma once

// The libpulse side: a threaded main loop, one context at a time, and the
// replies fed to the model. Everything here runs on the main loop's thread
// except construction, destruction and setPropertyData, which take the loop's
// lock and wait on it (never from the loop's own thread). Only
// makePulseAudioObjects() makes one.

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/linux/pulse/PulseAudioObjects.h"
#include "platform/linux/pulse/PulseModel.h"

namespace velmora::linuxos {

using pulse::Notices;
using pulse::PulseModel;

constexpr pa_usec_t kFirstRetry = 100 * PA_USEC_PER_MSEC;

class PulseClient final : public PulseAudioObjects {
 public:
  PulseClient();
  ~PulseClient() override;

  void setSinksChangedHandler(std::function<void()> handler) override {
    std::lock_guard lock(handlerMutex_);
    sinksChanged_ = std::move(handler);
  }

  void setStreamPidResolver(
      std::function<std::optional<Pid>(std::optional<Pid>, const std::string&)> resolver) override {
    model_.setStreamPidResolver(std::move(resolver));
  }

  bool isConnected() const override { return model_.isConnected(); }

  OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                               std::uint32_t& outDataSize) override {
    return model_.getPropertyDataSize(object, address, outDataSize);
  }
  OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t& ioDataSize,
                           void* outData) override {
    return model_.getPropertyData(object, address, ioDataSize, outData);
  }
  OSStatus getPropertyString(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t& ioDataSize,
                             AudioStringRef& outString) override {
    return model_.getPropertyString(object, address, ioDataSize, outString);
  }
  OSStatus addPropertyListenerBlock(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                    std::shared_ptr<SerialQueue> queue,
                                    AudioObjectPropertyListenerBlock block) override {
    return model_.addPropertyListenerBlock(object, address, std::move(queue), std::move(block));
  }

  OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address, std::uint32_t dataSize,
                           const void* data) override;

 private:
  struct SetWait {
    pa_threaded_mainloop* loop = nullptr;
    bool done = false;
    bool ok = false;
  };

  pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(loop_); }

  // Waits on the loop's lock until done() or the timeout. Called with the lock
  // held, never on the loop's thread.
  template <typename Done>
  bool waitLocked(Done done, pa_usec_t timeout);

  void connectLocked();
  void dropContextLocked();
  void releaseDeadContextLocked();
  void scheduleRetryLocked();
  void loadLocked();
  void listLoaded();
  void apply(Notices notices);

  static void onState(pa_context* context, void* self);
  static void onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index, void* self);
  template <bool initial>
  static void onSink(pa_context* context, const pa_sink_info* info, int eol, void* self);
  template <bool initial>
  static void onSinkInput(pa_context* context, const pa_sink_input_info* info, int eol, void* self);
  template <bool initial>
  static void onServer(pa_context* context, const pa_server_info* info, void* self);
  template <bool initial>
  static void onCard(pa_context* context, const pa_card_info* info, int eol, void* self);
  template <bool initial>
  static void onClient(pa_context* context, const pa_client_info* info, int eol, void* self);
  // The writes: each waits, with the loop's lock held, for the server's answer.
  OSStatus setDefaultSink(AudioDeviceID device);
  OSStatus moveStream(AudioObjectID stream, AudioDeviceID device);
  // Takes the lock, unless on the loop's own thread or without a connection
  // ready (then the status to give).
  std::optional<OSStatus> lockForWrite();
  // Waits for the answer to a request made with a SetWait; the result of it.
  bool awaitLocked(pa_operation* operation, SetWait& wait);
  static void onWritten(pa_context* context, int success, void* wait);
  static void onRetry(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);
  bool settleDefaultLocked(AudioDeviceID device);
  bool probeDefaultLocked();
  void dropProbeLocked();
  static void onProbeState(pa_context* context, void* self);
  static void onProbeServer(pa_context* context, const pa_server_info* info, void* self);
  void scheduleDefaultRereadsLocked();
  static void onReread(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv, void* self);

  static PulseClient& from(void* self) { return *static_cast<PulseClient*>(self); }
  // Replies for a context we have since dropped are ignored.
  bool current(pa_context* context) const { return context && context == context_; }
  // An operation we do not wait for.
  static void release(pa_operation* operation) {
    if (operation) pa_operation_unref(operation);
  }

  pa_threaded_mainloop* loop_ = nullptr;
  // The fields below are touched with the loop's lock held.
  pa_context* context_ = nullptr;
  pa_context* deadContext_ = nullptr;
  // The short-lived connection that reads the default (see above), and one
  // that has finished, unreferenced outside its own callbacks.
  pa_context* probe_ = nullptr;
  pa_context* deadProbe_ = nullptr;
  pa_time_event* retry_ = nullptr;
  std::vector<pa_time_event*> rereads_;
  pa_usec_t retryDelay_ = kFirstRetry;
  int listsPending_ = 0;
  bool loading_ = false;
  bool firstAttemptOver_ = false;
  bool wasConnected_ = false;
  bool stopping_ = false;

  PulseModel model_;
  std::mutex handlerMutex_;
  std::function<void()> sinksChanged_;
};

template <typename Done>
bool PulseClient::waitLocked(Done done, pa_usec_t timeout) {
  struct Timer {
    pa_threaded_mainloop* loop;
    bool expired = false;
  } timer{loop_};
  struct timeval when;
  pa_timeval_add(pa_gettimeofday(&when), timeout);
  pa_time_event* event = api()->time_new(
      api(), &when,
      [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
        auto* t = static_cast<Timer*>(data);
        t->expired = true;
        pa_threaded_mainloop_signal(t->loop, 0);
      },
      &timer);
  while (!done() && !timer.expired)
    pa_threaded_mainloop_wait(loop_);
  api()->time_free(event);
  return done();
}

}  // namespace velmora::linuxos
