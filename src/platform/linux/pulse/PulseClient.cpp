// The libpulse side: a threaded main loop, one context at a time, and the
// replies fed to the model. Everything here runs on the main loop's thread
// except construction, destruction and setPropertyData, which take the loop's
// lock and wait on it (never from the loop's own thread).

#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/Log.h"
#include "platform/ThreadStart.h"
#include "platform/linux/pulse/PulseAudioObjects.h"
#include "platform/linux/pulse/PulseModel.h"
#include "platform/linux/pulse/PulseReplies.h"

namespace velmora::linuxos {
namespace {

using namespace pulse;

constexpr pa_usec_t kFirstRetry = 100 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kMaxRetry = 2 * PA_USEC_PER_SEC;
constexpr pa_usec_t kStartupWait = 1 * PA_USEC_PER_SEC;
constexpr pa_usec_t kSetWait = 2 * PA_USEC_PER_SEC;
// PipeWire's session manager moves the default a moment after the server
// accepts the request, and the server tells us within milliseconds. Past the
// first wait, the default is read over a new connection: pipewire-pulse
// (seen with 0.3.65) can leave a long-lived client's view on the old default
// while new clients see the new one, and never tell the old client.
constexpr pa_usec_t kDefaultNoticeWait = 200 * PA_USEC_PER_MSEC;
constexpr pa_usec_t kDefaultSettleWait = 1 * PA_USEC_PER_SEC;
// When it has not moved by then, the default is read again, the same way, at
// these delays: a server that moves it later without telling us would
// otherwise leave the model on the old default for good.
constexpr pa_usec_t kDefaultRereads[] = {250 * PA_USEC_PER_MSEC, 1 * PA_USEC_PER_SEC, 3 * PA_USEC_PER_SEC,
                                         8 * PA_USEC_PER_SEC};
// Initial lists read on each connection: server, sinks, cards, clients, sink
// inputs.
constexpr int kInitialLists = 5;

const Logger& log() {
  static const Logger logger(kVelmoraSubsystem, "Audio");
  return logger;
}

class PulseClient final : public PulseAudioObjects {
 public:
  PulseClient() : loop_(pa_threaded_mainloop_new()) {
    if (!loop_) return;
    pa_threaded_mainloop_set_name(loop_, "velmora-pulse");
    if (pa_threaded_mainloop_start(loop_) < 0) {
      pa_threaded_mainloop_free(loop_);
      loop_ = nullptr;
      return;
    }
    pa_threaded_mainloop_lock(loop_);
    // The loop's thread is libpulse's: the hook runs as its first event.
    api()->defer_new(
        api(),
        [](pa_mainloop_api* api, pa_defer_event* event, void*) {
          api->defer_free(event);
          runThreadStartHook();
        },
        nullptr);
    connectLocked();
    waitLocked([&] { return model_.isConnected() || firstAttemptOver_; }, kStartupWait);
    pa_threaded_mainloop_unlock(loop_);
  }

  ~PulseClient() override {
    if (!loop_) return;
    pa_threaded_mainloop_lock(loop_);
    stopping_ = true;
    if (retry_) api()->time_free(retry_);
    retry_ = nullptr;
    for (pa_time_event* reread : rereads_)
      api()->time_free(reread);
    rereads_.clear();
    dropContextLocked();
    dropProbeLocked();
    releaseDeadContextLocked();
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
  }

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
  static void onSetDefault(pa_context* context, int success, void* wait);
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

void PulseClient::connectLocked() {
  releaseDeadContextLocked();
  context_ = pa_context_new(api(), "Velmora");
  if (!context_) {
    firstAttemptOver_ = true;
    scheduleRetryLocked();
    return;
  }
  pa_context_set_state_callback(context_, &PulseClient::onState, this);
  pa_context_set_subscribe_callback(context_, &PulseClient::onEvent, this);
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    dropContextLocked();
    firstAttemptOver_ = true;
    scheduleRetryLocked();
  }
}

void PulseClient::dropContextLocked() {
  if (!context_) return;
  pa_context_set_state_callback(context_, nullptr, nullptr);
  pa_context_set_subscribe_callback(context_, nullptr, nullptr);
  pa_context_disconnect(context_);
  // Unreferenced later, outside the callbacks it may still be running.
  releaseDeadContextLocked();
  deadContext_ = context_;
  context_ = nullptr;
  loading_ = false;
  listsPending_ = 0;
}

void PulseClient::releaseDeadContextLocked() {
  for (pa_context** dead : {&deadContext_, &deadProbe_}) {
    if (*dead) pa_context_unref(*dead);
    *dead = nullptr;
  }
}

void PulseClient::scheduleRetryLocked() {
  if (stopping_ || retry_) return;
  struct timeval when;
  pa_timeval_add(pa_gettimeofday(&when), retryDelay_);
  retry_ = api()->time_new(api(), &when, &PulseClient::onRetry, this);
  retryDelay_ = std::min(retryDelay_ * 2, kMaxRetry);
}

void PulseClient::onRetry(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* self) {
  auto& client = from(self);
  api->time_free(event);
  client.retry_ = nullptr;
  if (!client.stopping_ && !client.context_) client.connectLocked();
}

bool PulseClient::settleDefaultLocked(AudioDeviceID device) {
  const auto settled = [&] { return model_.defaultSink() == device || !context_; };
  if (waitLocked(settled, kDefaultNoticeWait)) return true;
  probeDefaultLocked();
  waitLocked([&] { return settled() || !probe_; }, kDefaultSettleWait - kDefaultNoticeWait);
  return settled();
}

// Whether a read over a new connection is under way.
bool PulseClient::probeDefaultLocked() {
  if (probe_) return true;
  if (stopping_ || !context_ || loading_) return false;
  probe_ = pa_context_new(api(), "Velmora");
  if (!probe_) return false;
  pa_context_set_state_callback(probe_, &PulseClient::onProbeState, this);
  if (pa_context_connect(probe_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) dropProbeLocked();
  return probe_ != nullptr;
}

void PulseClient::dropProbeLocked() {
  if (!probe_) return;
  pa_context_set_state_callback(probe_, nullptr, nullptr);
  pa_context_disconnect(probe_);
  releaseDeadContextLocked();
  deadProbe_ = probe_;
  probe_ = nullptr;
}

void PulseClient::onProbeState(pa_context* context, void* self) {
  auto& client = from(self);
  if (context != client.probe_) return;
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
      release(pa_context_get_server_info(context, &PulseClient::onProbeServer, self));
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      client.dropProbeLocked();
      pa_threaded_mainloop_signal(client.loop_, 0);
      break;
    default:
      break;
  }
}

void PulseClient::onProbeServer(pa_context* context, const pa_server_info* info, void* self) {
  auto& client = from(self);
  if (context != client.probe_) return;
  // Only into a model that is loaded from the same server.
  if (info && client.context_ && !client.loading_) client.apply(client.model_.updateServer(serverReply(*info)));
  client.dropProbeLocked();
  pa_threaded_mainloop_signal(client.loop_, 0);
}

void PulseClient::scheduleDefaultRereadsLocked() {
  // A later set replaces the rereads of an earlier one.
  for (pa_time_event* reread : rereads_)
    api()->time_free(reread);
  rereads_.clear();
  if (stopping_) return;
  for (const pa_usec_t delay : kDefaultRereads) {
    struct timeval when;
    pa_timeval_add(pa_gettimeofday(&when), delay);
    if (pa_time_event* event = api()->time_new(api(), &when, &PulseClient::onReread, this)) rereads_.push_back(event);
  }
}

void PulseClient::onReread(pa_mainloop_api* api, pa_time_event* event, const struct timeval*, void* self) {
  auto& client = from(self);
  std::erase(client.rereads_, event);
  api->time_free(event);
  client.probeDefaultLocked();
}

void PulseClient::onState(pa_context* context, void* self) {
  auto& client = from(self);
  if (!client.current(context)) return;
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
      client.loadLocked();
      break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: {
      if (client.wasConnected_)
        log().info("sound server connection lost: %s", {pa_strerror(pa_context_errno(context))});
      client.wasConnected_ = false;
      client.dropContextLocked();
      client.firstAttemptOver_ = true;
      client.scheduleRetryLocked();
      client.apply(client.model_.disconnect());
      // Wake a setter waiting on an operation the context took with it.
      pa_threaded_mainloop_signal(client.loop_, 0);
      break;
    }
    default:
      break;
  }
}

void PulseClient::loadLocked() {
  const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SINK_INPUT |
                                                        PA_SUBSCRIPTION_MASK_SERVER | PA_SUBSCRIPTION_MASK_CARD |
                                                        PA_SUBSCRIPTION_MASK_CLIENT);
  release(pa_context_subscribe(context_, mask, nullptr, nullptr));
  model_.beginLoading();
  loading_ = true;
  listsPending_ = kInitialLists;
  // Replies come in the order asked: cards and clients before the sinks and
  // streams that refer to them.
  release(pa_context_get_server_info(context_, &PulseClient::onServer<true>, this));
  release(pa_context_get_card_info_list(context_, &PulseClient::onCard<true>, this));
  release(pa_context_get_client_info_list(context_, &PulseClient::onClient<true>, this));
  release(pa_context_get_sink_info_list(context_, &PulseClient::onSink<true>, this));
  release(pa_context_get_sink_input_info_list(context_, &PulseClient::onSinkInput<true>, this));
}

void PulseClient::listLoaded() {
  if (!loading_ || --listsPending_ > 0) return;
  loading_ = false;
  retryDelay_ = kFirstRetry;
  if (!wasConnected_) log().info("sound server connected");
  wasConnected_ = true;
  apply(model_.finishLoading());
  pa_threaded_mainloop_signal(loop_, 0);
}

void PulseClient::apply(Notices notices) {
  deliver(notices.deliveries);
  if (!notices.sinksChanged) return;
  std::function<void()> handler;
  {
    std::lock_guard lock(handlerMutex_);
    handler = sinksChanged_;
  }
  if (handler) handler();
}

void PulseClient::onEvent(pa_context* context, pa_subscription_event_type_t type, std::uint32_t index, void* self) {
  auto& client = from(self);
  if (!client.current(context)) return;
  const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const bool removed = (type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE;
  switch (facility) {
    case PA_SUBSCRIPTION_EVENT_SINK:
      if (removed) {
        client.apply(client.model_.removeSink(index));
        // The server has moved its default away from the removed sink. Our
        // own connection may still hold an old default (see above).
        if (!client.probeDefaultLocked())
          release(pa_context_get_server_info(context, &PulseClient::onServer<false>, self));
      } else {
        release(pa_context_get_sink_info_by_index(context, index, &PulseClient::onSink<false>, self));
      }
      break;
    case PA_SUBSCRIPTION_EVENT_SINK_INPUT:
      if (removed) {
        client.apply(client.model_.removeSinkInput(index));
      } else {
        release(pa_context_get_sink_input_info(context, index, &PulseClient::onSinkInput<false>, self));
      }
      break;
    case PA_SUBSCRIPTION_EVENT_SERVER:
      release(pa_context_get_server_info(context, &PulseClient::onServer<false>, self));
      break;
    case PA_SUBSCRIPTION_EVENT_CARD:
      if (removed) {
        client.apply(client.model_.removeCard(index));
      } else {
        release(pa_context_get_card_info_by_index(context, index, &PulseClient::onCard<false>, self));
      }
      break;
    case PA_SUBSCRIPTION_EVENT_CLIENT:
      if (removed) {
        client.apply(client.model_.removeClient(index));
      } else {
        release(pa_context_get_client_info(context, index, &PulseClient::onClient<false>, self));
      }
      break;
    default:
      break;
  }
}

// A list reply ends with eol > 0, or eol < 0 when it failed (an object gone
// before its info was read); a reply for one object comes as a list of one.
// Only the initial lists of a connection count towards its loading.
template <bool initial>
void PulseClient::onSink(pa_context* context, const pa_sink_info* info, int eol, void* self) {
  auto& client = from(self);
  if (!client.current(context)) return;
  if (eol != 0 || !info) {
    if constexpr (initial) client.listLoaded();
    return;
  }
  client.apply(client.model_.updateSink(sinkReply(*info)));
}

template <bool initial>
void PulseClient::onSinkInput(pa_context* context, const pa_sink_input_info* info, int eol, void* self) {
  auto& client = from(self);
  if (!client.current(context)) return;
  if (eol != 0 || !info) {
    if constexpr (initial) client.listLoaded();
    return;
  }
  client.apply(client.model_.updateSinkInput(sinkInputReply(*info)));
}

template <bool initial>
void PulseClient::onServer(pa_context* context, const pa_server_info* info, void* self) {
  auto& client = from(self);
  if (!client.current(context)) return;
  if (info) client.apply(client.model_.updateServer(serverReply(*info)));
  if constexpr (initial) client.listLoaded();
  // A setter may be waiting for the default to move.
  pa_threaded_mainloop_signal(client.loop_, 0);
}

template <bool initial>
void PulseClient::onCard(pa_context* context, const pa_card_info* info, int eol, void* self) {
  auto& client = from(self);
  if (!client.current(context)) return;
  if (eol != 0 || !info) {
    if constexpr (initial) client.listLoaded();
    return;
  }
  client.apply(client.model_.updateCard(cardReply(*info)));
}

template <bool initial>
void PulseClient::onClient(pa_context* context, const pa_client_info* info, int eol, void* self) {
  auto& client = from(self);
  if (!client.current(context)) return;
  if (eol != 0 || !info) {
    if constexpr (initial) client.listLoaded();
    return;
  }
  client.apply(client.model_.updateClient(clientReply(*info)));
}

void PulseClient::onSetDefault(pa_context*, int success, void* data) {
  auto* wait = static_cast<std::pair<SetWait*, pa_threaded_mainloop*>*>(data);
  wait->first->done = true;
  wait->first->ok = success != 0;
  pa_threaded_mainloop_signal(wait->second, 0);
}

OSStatus PulseClient::setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                      std::uint32_t dataSize, const void* data) {
  if (object != kAudioObjectSystemObject) {
    std::uint32_t size = 0;
    // A device or stream has no property we write; anything else is no object.
    return model_.getPropertyDataSize(object, address, size) == kAudioHardwareBadObjectError
               ? kAudioHardwareBadObjectError
               : kAudioHardwareIllegalOperationError;
  }
  if (address.mSelector != kAudioHardwarePropertyDefaultOutputDevice) return kAudioHardwareUnknownPropertyError;
  if (dataSize < sizeof(AudioDeviceID) || !data) return kAudioHardwareBadPropertySizeError;
  AudioDeviceID device = 0;
  std::memcpy(&device, data, sizeof device);
  const auto sinkName = model_.sinkName(device);
  if (!sinkName) return model_.isConnected() ? kAudioHardwareIllegalOperationError : kAudioHardwareNotRunningError;
  // Waiting for the server here would stall the loop that must answer us.
  if (!loop_ || pa_threaded_mainloop_in_thread(loop_)) return kAudioHardwareIllegalOperationError;

  pa_threaded_mainloop_lock(loop_);
  if (!context_ || loading_ || pa_context_get_state(context_) != PA_CONTEXT_READY) {
    pa_threaded_mainloop_unlock(loop_);
    return kAudioHardwareNotRunningError;
  }
  SetWait wait;
  std::pair<SetWait*, pa_threaded_mainloop*> target{&wait, loop_};
  pa_operation* operation =
      pa_context_set_default_sink(context_, sinkName->c_str(), &PulseClient::onSetDefault, &target);
  if (!operation) {
    pa_threaded_mainloop_unlock(loop_);
    return kAudioHardwareUnspecifiedError;
  }
  // Answered after the write, so the model sees the new default before we
  // return and a read-back agrees.
  release(pa_context_get_server_info(context_, &PulseClient::onServer<false>, this));
  waitLocked([&] { return wait.done || pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, kSetWait);
  if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
    // Gone unanswered: make sure the reply never lands in our stack frame.
    pa_operation_cancel(operation);
  }
  pa_operation_unref(operation);
  if (wait.ok && !settleDefaultLocked(device)) scheduleDefaultRereadsLocked();
  pa_threaded_mainloop_unlock(loop_);
  return wait.ok ? kAudioHardwareNoError : kAudioHardwareUnspecifiedError;
}

}  // namespace

std::shared_ptr<PulseAudioObjects> makePulseAudioObjects() {
  return std::make_shared<PulseClient>();
}

}  // namespace velmora::linuxos
