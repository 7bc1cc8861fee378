// Connecting to the sound server, loading its state and following its
// events into the model.

#include "platform/linux/pulse/PulseClient.h"

#include <pulse/error.h>

#include <algorithm>
#include <utility>

#include "platform/Log.h"
#include "platform/ThreadStart.h"
#include "platform/linux/pulse/PulseReplies.h"

namespace velmora::linuxos {
namespace {

using namespace pulse;

constexpr pa_usec_t kMaxRetry = 2 * PA_USEC_PER_SEC;
constexpr pa_usec_t kStartupWait = 1 * PA_USEC_PER_SEC;
// Initial lists read on each connection: server, sinks, cards, clients, sink
// inputs.
constexpr int kInitialLists = 5;

const Logger& log() {
  static const Logger logger(kVelmoraSubsystem, "Audio");
  return logger;
}

}  // namespace

PulseClient::PulseClient() : loop_(pa_threaded_mainloop_new()) {
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

PulseClient::~PulseClient() {
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
  // A mover may be waiting for the stream to move.
  pa_threaded_mainloop_signal(client.loop_, 0);
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

// The writes ask for these too.
template void PulseClient::onSinkInput<false>(pa_context*, const pa_sink_input_info*, int, void*);
template void PulseClient::onServer<false>(pa_context*, const pa_server_info*, void*);

std::shared_ptr<PulseAudioObjects> makePulseAudioObjects() {
  return std::make_shared<PulseClient>();
}

}  // namespace velmora::linuxos
