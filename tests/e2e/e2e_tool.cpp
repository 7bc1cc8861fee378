// Small helpers for the end-to-end scripts that the shell cannot do alone.
//   velmora-e2e-tool ipc SOCKET JSON   sends one command to mpv's IPC socket and
//                                      prints the reply line; fails when mpv
//                                      reports an error or does not answer
//                                      within 5 s.
//   velmora-e2e-tool edid OUTPUT NAME  gives a RandR output of the X server in
//                                      DISPLAY an EDID whose product name is
//                                      NAME (up to 13 characters), as a real
//                                      monitor's would be.
//   velmora-e2e-tool unmovable         plays silence through the sound server
//                                      in a stream made with
//                                      PA_STREAM_DONT_MOVE, until killed.
//   velmora-e2e-tool move INPUT SINK   moves sink input INPUT to the sink
//                                      named SINK as a mixer does, and stays
//                                      connected until the input plays there
//                                      (fails after 3 s).
//   velmora-e2e-tool menu-pick MENU ITEM
//                                      picks ITEM of the submenu MENU of
//                                      velmora's menu on the session bus, as
//                                      GNOME Shell's top bar does: it owns
//                                      org.gnome.Shell, reads the menu and
//                                      activates the entry (within 10 s).
#include <poll.h>
#include <pulse/context.h>
#include <pulse/error.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>
#include <pulse/stream.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <systemd/sd-bus.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr int kReplyTimeoutMs = 5000;

int usage() {
  std::fputs(
      "usage: velmora-e2e-tool ipc SOCKET JSON\n"
      "       velmora-e2e-tool edid OUTPUT NAME\n"
      "       velmora-e2e-tool unmovable\n"
      "       velmora-e2e-tool move INPUT SINK\n"
      "       velmora-e2e-tool menu-pick MENU ITEM\n",
      stderr);
  return 2;
}

bool writeAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n <= 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// mpv interleaves event lines with replies; a reply is the line with "error".
int ipc(const char* path, const std::string& command) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (std::strlen(path) >= sizeof(address.sun_path)) {
    std::fprintf(stderr, "socket path too long: %s\n", path);
    return 1;
  }
  std::strcpy(address.sun_path, path);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
    std::perror(path);
    if (fd >= 0) ::close(fd);
    return 1;
  }
  int status = 1;
  bool answered = false;
  if (writeAll(fd, command + "\n")) {
    std::string buffer;
    char chunk[4096];
    pollfd waiter{fd, POLLIN, 0};
    while (::poll(&waiter, 1, kReplyTimeoutMs) > 0) {
      const ssize_t n = ::read(fd, chunk, sizeof(chunk));
      if (n <= 0) break;
      buffer.append(chunk, static_cast<size_t>(n));
      size_t end = 0;
      bool done = false;
      while ((end = buffer.find('\n')) != std::string::npos) {
        const std::string line = buffer.substr(0, end);
        buffer.erase(0, end + 1);
        if (line.find("\"error\"") == std::string::npos) continue;
        std::printf("%s\n", line.c_str());
        status = line.find("\"error\":\"success\"") != std::string::npos ? 0 : 1;
        answered = done = true;
        break;
      }
      if (done) break;
    }
    if (!answered) std::fprintf(stderr, "no reply from mpv\n");
  }
  ::close(fd);
  return status;
}

// A base EDID block: header, a made-up maker "VLM", version 1.4, and the
// product name in the first display descriptor; the last byte makes the sum
// of all bytes 0 modulo 256.
std::array<std::uint8_t, 128> edidBlock(std::string_view name) {
  std::array<std::uint8_t, 128> block{};
  const std::uint8_t header[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  std::memcpy(block.data(), header, sizeof(header));
  block[8] = 0x59;  // "VLM" in five-bit letters
  block[9] = 0x8D;
  block[18] = 1;
  block[19] = 4;
  std::uint8_t* descriptor = block.data() + 54;
  descriptor[3] = 0xFC;
  std::memset(descriptor + 5, ' ', 13);
  std::memcpy(descriptor + 5, name.data(), name.size());
  if (name.size() < 13) descriptor[5 + name.size()] = 0x0A;
  unsigned sum = 0;
  for (std::size_t i = 0; i < 127; ++i)
    sum += block[i];
  block[127] = static_cast<std::uint8_t>((256 - sum % 256) % 256);
  return block;
}

int edid(std::string_view outputName, std::string_view name) {
  if (name.empty() || name.size() > 13) {
    std::fprintf(stderr, "an EDID product name has 1 to 13 characters\n");
    return 2;
  }
  xcb_connection_t* c = xcb_connect(nullptr, nullptr);
  const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> connection(c, xcb_disconnect);
  if (xcb_connection_has_error(c)) {
    std::fprintf(stderr, "cannot connect to the X server\n");
    return 1;
  }
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
  const std::unique_ptr<xcb_randr_get_screen_resources_reply_t, decltype(&std::free)> resources(
      xcb_randr_get_screen_resources_reply(c, xcb_randr_get_screen_resources(c, root), nullptr), std::free);
  if (!resources) {
    std::fprintf(stderr, "no RandR screen resources\n");
    return 1;
  }
  const xcb_randr_output_t* outputs = xcb_randr_get_screen_resources_outputs(resources.get());
  const int count = xcb_randr_get_screen_resources_outputs_length(resources.get());
  for (int i = 0; i < count; ++i) {
    const std::unique_ptr<xcb_randr_get_output_info_reply_t, decltype(&std::free)> info(
        xcb_randr_get_output_info_reply(c, xcb_randr_get_output_info(c, outputs[i], XCB_CURRENT_TIME), nullptr),
        std::free);
    if (!info) continue;
    const std::string_view infoName(reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
                                    static_cast<std::size_t>(xcb_randr_get_output_info_name_length(info.get())));
    if (infoName != outputName) continue;
    const std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 4, "EDID"), nullptr), std::free);
    if (!atom) return 1;
    const auto block = edidBlock(name);
    const xcb_void_cookie_t cookie = xcb_randr_change_output_property_checked(
        c, outputs[i], atom->atom, XCB_ATOM_INTEGER, 8, XCB_PROP_MODE_REPLACE, block.size(), block.data());
    if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
      std::fprintf(stderr, "the X server refused the EDID (error %d)\n", error->error_code);
      std::free(error);
      return 1;
    }
    return 0;
  }
  std::fprintf(stderr, "no output named %.*s\n", static_cast<int>(outputName.size()), outputName.data());
  return 1;
}

void writeSilence(pa_stream* stream, std::size_t bytes, void*) {
  static const std::array<char, 65536> silence{};
  while (bytes > 0) {
    const std::size_t n = std::min(bytes, silence.size());
    if (pa_stream_write(stream, silence.data(), n, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    bytes -= n;
  }
}

void playUnmovable(pa_context* context, void*) {
  switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
      const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, 48000, 2};
      pa_stream* stream = pa_stream_new(context, "unmovable", &sampleFormat, nullptr);
      if (!stream) std::exit(1);
      pa_stream_set_write_callback(stream, &writeSilence, nullptr);
      if (pa_stream_connect_playback(stream, nullptr, nullptr, PA_STREAM_DONT_MOVE, nullptr, nullptr) < 0) std::exit(1);
      break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
      std::exit(1);
    default:
      break;
  }
}

int unmovable() {
  pa_mainloop* loop = pa_mainloop_new();
  pa_context* context = loop ? pa_context_new(pa_mainloop_get_api(loop), "unmovable") : nullptr;
  if (!context) return 1;
  pa_context_set_state_callback(context, &playUnmovable, nullptr);
  if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return 1;
  return pa_mainloop_run(loop, nullptr) < 0 ? 1 : 0;
}

// Runs the loop until the operation ends; false if it failed or the
// connection went.
bool await(pa_mainloop* loop, pa_context* context, pa_operation* operation) {
  if (!operation) return false;
  while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && pa_mainloop_iterate(loop, 1, nullptr) >= 0) {
  }
  const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
  pa_operation_unref(operation);
  return done && pa_context_get_state(context) == PA_CONTEXT_READY;
}

// pactl leaves as soon as the server has answered, and PipeWire's pulse
// server (seen with 0.3.65 and 1.4.2) then at times drops the move it had not yet passed on,
// so the stream stays where it was. A mixer stays connected; so does this.
int move(std::uint32_t input, const std::string& sink) {
  alarm(10);  // a server that stops answering ends the tool, not the bed
  pa_mainloop* loop = pa_mainloop_new();
  pa_context* context = loop ? pa_context_new(pa_mainloop_get_api(loop), "mixer") : nullptr;
  bool connecting = context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0;
  while (connecting && pa_context_get_state(context) != PA_CONTEXT_READY) {
    connecting = PA_CONTEXT_IS_GOOD(pa_context_get_state(context)) && pa_mainloop_iterate(loop, 1, nullptr) >= 0;
  }
  if (!connecting) {
    std::fprintf(stderr, "no sound server to move input %u with\n", input);
    return 1;
  }
  auto flag = [](pa_context*, int success, void* ok) { *static_cast<bool*>(ok) = success != 0; };
  bool moved = false;
  if (!await(loop, context, pa_context_move_sink_input_by_name(context, input, sink.c_str(), flag, &moved)) || !moved) {
    std::fprintf(stderr, "the server refused to move input %u to %s: %s\n", input, sink.c_str(),
                 pa_strerror(pa_context_errno(context)));
    return 1;
  }
  std::uint32_t sinkIndex = PA_INVALID_INDEX;
  auto sinkInfo = [](pa_context*, const pa_sink_info* info, int, void* index) {
    if (info) *static_cast<std::uint32_t*>(index) = info->index;
  };
  if (!await(loop, context, pa_context_get_sink_info_by_name(context, sink.c_str(), sinkInfo, &sinkIndex))) return 1;
  auto inputSink = [](pa_context*, const pa_sink_input_info* info, int, void* index) {
    if (info) *static_cast<std::uint32_t*>(index) = info->sink;
  };
  for (int tries = 0; tries < 60; ++tries) {
    std::uint32_t playsOn = PA_INVALID_INDEX;
    if (!await(loop, context, pa_context_get_sink_input_info(context, input, inputSink, &playsOn))) return 1;
    if (playsOn == sinkIndex) return 0;
    usleep(50'000);
  }
  std::fprintf(stderr, "input %u still plays elsewhere after the move to %s\n", input, sink.c_str());
  return 1;
}

struct MenuEntry {
  std::string id;
  std::string parent;
  std::string title;
};

// The entries of velmora's menu, or none when velmora does not answer (yet).
std::optional<std::vector<MenuEntry>> readMenu(sd_bus* bus) {
  sd_bus_error error = SD_BUS_ERROR_NULL;
  sd_bus_message* reply = nullptr;
  std::optional<std::vector<MenuEntry>> entries;
  if (sd_bus_call_method(bus, "co.quennet.Velmora", "/co/quennet/Velmora/Menu", "co.quennet.Velmora.Menu", "GetLayout",
                         &error, &reply, "") >= 0 &&
      sd_bus_message_skip(reply, "ussss") >= 0 && sd_bus_message_enter_container(reply, 'a', "(ssssbbbbb)") >= 0) {
    entries.emplace();
    const char *id, *parent, *type, *title;
    int enabled, visible, checkable, checked, alternate;
    while (sd_bus_message_read(reply, "(ssssbbbbb)", &id, &parent, &type, &title, &enabled, &visible, &checkable,
                               &checked, &alternate) > 0) {
      entries->push_back({id, parent, title});
    }
  }
  sd_bus_message_unref(reply);
  sd_bus_error_free(&error);
  return entries;
}

int menuPick(const std::string& menu, const std::string& item) {
  sd_bus* bus = nullptr;
  if (sd_bus_open_user(&bus) < 0 || sd_bus_request_name(bus, "org.gnome.Shell", 0) < 0) {
    std::fprintf(stderr, "could not own org.gnome.Shell on the session bus\n");
    return 1;
  }
  // Velmora learns the Shell's new owner from the bus, and its displays a
  // moment after it starts: ask until both are there.
  for (int attempt = 0; attempt < 100; ++attempt) {
    const auto entries = readMenu(bus);
    std::string submenu;
    for (const MenuEntry& e : entries.value_or(std::vector<MenuEntry>{})) {
      if (e.title == menu) submenu = e.id;
      if (!submenu.empty() && e.parent == submenu && e.title == item) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        const int r = sd_bus_call_method(bus, "co.quennet.Velmora", "/co/quennet/Velmora/Menu",
                                         "co.quennet.Velmora.Menu", "Activate", &error, nullptr, "s", e.id.c_str());
        if (r < 0) std::fprintf(stderr, "Activate %s: %s\n", e.id.c_str(), error.message ? error.message : "failed");
        sd_bus_error_free(&error);
        sd_bus_unref(bus);
        return r < 0 ? 1 : 0;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::fprintf(stderr, "velmora's menu has no \"%s\" in \"%s\"\n", item.c_str(), menu.c_str());
  sd_bus_unref(bus);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string_view(argv[1]) == "ipc") return ipc(argv[2], argv[3]);
  if (argc == 4 && std::string_view(argv[1]) == "edid") return edid(argv[2], argv[3]);
  if (argc == 2 && std::string_view(argv[1]) == "unmovable") return unmovable();
  if (argc == 4 && std::string_view(argv[1]) == "move") return move(std::strtoul(argv[2], nullptr, 10), argv[3]);
  if (argc == 4 && std::string_view(argv[1]) == "menu-pick") return menuPick(argv[2], argv[3]);
  return usage();
}
