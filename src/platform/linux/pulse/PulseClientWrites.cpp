// The writes: the default sink, and which sink a stream plays on. Each takes
// the loop's lock and waits for the server's answer, and the default is then
// read back until the model agrees.

#include <cstring>
#include <utility>

#include "platform/linux/pulse/PulseClient.h"
#include "platform/linux/pulse/PulseReplies.h"

namespace velmora::linuxos {
namespace {

using pulse::serverReply;

constexpr pa_usec_t kSetWait = 2 * PA_USEC_PER_SEC;
// How long a mover waits, past the server's answer, for the stream's own
// update to say it moved.
constexpr pa_usec_t kMoveNoticeWait = 200 * PA_USEC_PER_MSEC;
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

}  // namespace

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

void PulseClient::onWritten(pa_context*, int success, void* data) {
  auto* wait = static_cast<SetWait*>(data);
  wait->done = true;
  wait->ok = success != 0;
  pa_threaded_mainloop_signal(wait->loop, 0);
}

OSStatus PulseClient::setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                      std::uint32_t dataSize, const void* data) {
  std::uint32_t size = 0;
  const OSStatus kind = model_.getPropertyDataSize(object, address, size);
  const bool isDefault =
      object == kAudioObjectSystemObject && address.mSelector == kAudioHardwarePropertyDefaultOutputDevice;
  const bool isStreamDevice = object != kAudioObjectSystemObject &&
                              address.mSelector == kAudioProcessPropertyOutputDevice && kind == kAudioHardwareNoError;
  if (!isDefault && !isStreamDevice) {
    if (object == kAudioObjectSystemObject) return kAudioHardwareUnknownPropertyError;
    // A device or stream has no other property we write; anything else is no object.
    return kind == kAudioHardwareBadObjectError ? kAudioHardwareBadObjectError : kAudioHardwareIllegalOperationError;
  }
  if (dataSize < sizeof(AudioDeviceID) || !data) return kAudioHardwareBadPropertySizeError;
  AudioDeviceID device = 0;
  std::memcpy(&device, data, sizeof device);
  return isDefault ? setDefaultSink(device) : moveStream(object, device);
}

std::optional<OSStatus> PulseClient::lockForWrite() {
  // Waiting for the server here would stall the loop that must answer us.
  if (!loop_ || pa_threaded_mainloop_in_thread(loop_)) return kAudioHardwareIllegalOperationError;
  pa_threaded_mainloop_lock(loop_);
  if (!context_ || loading_ || pa_context_get_state(context_) != PA_CONTEXT_READY) {
    pa_threaded_mainloop_unlock(loop_);
    return kAudioHardwareNotRunningError;
  }
  return std::nullopt;
}

bool PulseClient::awaitLocked(pa_operation* operation, SetWait& wait) {
  waitLocked([&] { return wait.done || pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, kSetWait);
  if (pa_operation_get_state(operation) == PA_OPERATION_RUNNING) {
    // Gone unanswered: make sure the reply never lands in our stack frame.
    pa_operation_cancel(operation);
  }
  pa_operation_unref(operation);
  return wait.ok;
}

OSStatus PulseClient::setDefaultSink(AudioDeviceID device) {
  const auto sinkName = model_.sinkName(device);
  if (!sinkName) return model_.isConnected() ? kAudioHardwareIllegalOperationError : kAudioHardwareNotRunningError;
  if (auto refused = lockForWrite()) return *refused;
  SetWait wait{loop_};
  pa_operation* operation = pa_context_set_default_sink(context_, sinkName->c_str(), &PulseClient::onWritten, &wait);
  if (!operation) {
    pa_threaded_mainloop_unlock(loop_);
    return kAudioHardwareUnspecifiedError;
  }
  // Answered after the write, so the model sees the new default before we
  // return and a read-back agrees.
  release(pa_context_get_server_info(context_, &PulseClient::onServer<false>, this));
  const bool ok = awaitLocked(operation, wait);
  if (ok && !settleDefaultLocked(device)) scheduleDefaultRereadsLocked();
  pa_threaded_mainloop_unlock(loop_);
  return ok ? kAudioHardwareNoError : kAudioHardwareUnspecifiedError;
}

// The server refuses a stream made with PA_STREAM_DONT_MOVE ("Invalid
// argument" from PulseAudio 16.1 and pipewire-pulse 0.3.65 alike).
OSStatus PulseClient::moveStream(AudioObjectID stream, AudioDeviceID device) {
  const auto move = model_.streamMove(stream, device);
  if (!move) return model_.isConnected() ? kAudioHardwareIllegalOperationError : kAudioHardwareNotRunningError;
  if (auto refused = lockForWrite()) return *refused;
  SetWait wait{loop_};
  pa_operation* operation =
      pa_context_move_sink_input_by_index(context_, move->stream, move->sink, &PulseClient::onWritten, &wait);
  if (!operation) {
    pa_threaded_mainloop_unlock(loop_);
    return kAudioHardwareUnspecifiedError;
  }
  // Answered after the move, so a server that has moved the stream by then
  // (PulseAudio does) leaves the model agreeing when we return; one that
  // moves it later (PipeWire's session manager links it) tells the model with
  // its event.
  release(pa_context_get_sink_input_info(context_, move->stream, &PulseClient::onSinkInput<false>, this));
  const bool ok = awaitLocked(operation, wait);
  const AudioObjectPropertyAddress where{kAudioProcessPropertyOutputDevice, kAudioObjectPropertyScopeGlobal,
                                         kAudioObjectPropertyElementMain};
  const auto moved = [&] {
    AudioDeviceID now = 0;
    std::uint32_t size = sizeof now;
    return !context_ || (model_.getPropertyData(stream, where, size, &now) == kAudioHardwareNoError && now == device);
  };
  if (ok) waitLocked(moved, kMoveNoticeWait);
  pa_threaded_mainloop_unlock(loop_);
  return ok ? kAudioHardwareNoError : kAudioHardwareUnspecifiedError;
}

}  // namespace velmora::linuxos
