// Against a real Xvfb when one is installed: screens from RandR monitors with
// an EDID name, the window list without a window manager kept by events, and
// a server that goes away and comes back.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <numeric>
#include <optional>

#include "platform/Log.h"
#include "platform/linux/x11/X11Client.h"

namespace velmora::linuxos {
namespace {

using namespace std::chrono_literals;

std::optional<std::string> findXvfb() {
  for (const char* dir : {"/usr/bin", "/usr/local/bin"}) {
    const std::string path = std::string(dir) + "/Xvfb";
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return std::nullopt;
}

// An Xvfb on a display of its own choosing (or a given one), stopped at the end.
class Xvfb {
 public:
  explicit Xvfb(std::optional<int> display = std::nullopt) {
    const auto path = findXvfb();
    if (!path) return;
    if (!display) {
      // A display no other server has claimed.
      for (int n = 140 + getpid() % 200; n < 1000 && !display; ++n) {
        if (!std::filesystem::exists("/tmp/.X" + std::to_string(n) + "-lock")) display = n;
      }
    }
    std::vector<std::string> args = {*path, "-noreset", "-nolisten", "tcp", "-screen", "0", "3840x1080x24"};
    args.insert(args.begin() + 1, ":" + std::to_string(*display));
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      // The server dies with the test, even when the test crashes.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, 1);
      dup2(null, 2);
      execv(argv[0], argv.data());
      _exit(127);
    }
    if (pid_ < 0) return;
    display_ = *display;
    // Ready once its socket exists.
    const std::string socket = "/tmp/.X11-unix/X" + std::to_string(*display);
    for (int i = 0; i < 250 && !std::filesystem::exists(socket); ++i)
      std::this_thread::sleep_for(20ms);
  }
  ~Xvfb() { stop(); }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  std::optional<int> display() const { return display_; }
  std::string name() const { return ":" + std::to_string(display_.value_or(0)); }

 private:
  pid_t pid_ = -1;
  std::optional<int> display_;
};

struct Capture : LogSink {
  std::mutex mutex;
  std::vector<std::string> lines;
  void write(const LogRecord& r) override {
    std::lock_guard lock(mutex);
    lines.push_back(r.category + ": " + r.message);
  }
  std::size_t count(const std::string& text) {
    std::lock_guard lock(mutex);
    return std::count_if(lines.begin(), lines.end(), [&](auto& l) { return l.find(text) != std::string::npos; });
  }
};

// Waits for a condition that another thread brings about.
class Signal {
 public:
  void bump() {
    std::lock_guard lock(mutex_);
    ++count_;
    changed_.notify_all();
  }
  bool waitFor(int atLeast, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return count_ >= atLeast; });
  }
  int count() {
    std::lock_guard lock(mutex_);
    return count_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int count_ = 0;
};

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
  auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::strlen(name), name), nullptr);
  const xcb_atom_t a = reply ? reply->atom : XCB_NONE;
  std::free(reply);
  return a;
}

std::vector<std::uint8_t> edidNamed(const std::string& name) {
  std::vector<std::uint8_t> e(128, 0);
  const std::uint8_t header[] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
  std::copy(std::begin(header), std::end(header), e.begin());
  e[54 + 18 + 3] = 0xFC;
  for (std::size_t i = 0; i < 13; ++i)
    e[54 + 18 + 5 + i] = i < name.size() ? name[i] : (i == name.size() ? 0x0A : 0x20);
  e[127] = static_cast<std::uint8_t>(256 - std::accumulate(e.begin(), e.end() - 1, 0u) % 256);
  return e;
}

xcb_window_t makeWindow(xcb_connection_t* c, xcb_window_t root, std::int16_t x, std::int16_t y, std::uint16_t w,
                        std::uint16_t h, bool map) {
  const xcb_window_t id = xcb_generate_id(c);
  const std::uint32_t overrideRedirect = 1;  // no window manager here: keep the position as asked
  xcb_create_window(c, XCB_COPY_FROM_PARENT, id, root, x, y, w, h, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, &overrideRedirect);
  if (map) xcb_map_window(c, id);
  return id;
}

TEST(X11Server, ScreensWindowsAndReconnection) {
  if (!findXvfb() || std::system("command -v xrandr >/dev/null") != 0) GTEST_SKIP() << "Xvfb or xrandr missing";
  auto capture = std::make_shared<Capture>();
  setLogSink(capture);
  auto server = std::make_unique<Xvfb>();
  ASSERT_TRUE(server->display());

  Signal changes;
  X11Client client([&] { changes.bump(); }, server->name());
  for (int i = 0; i < 250 && !client.connected(); ++i)
    std::this_thread::sleep_for(20ms);
  ASSERT_TRUE(client.connected()) << server->name();

  xcb_connection_t* c = xcb_connect(server->name().c_str(), nullptr);
  ASSERT_EQ(xcb_connection_has_error(c), 0);
  const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;

  // Two monitors: the first on the server's output with an EDID, the second without outputs.
  auto* resources =
      xcb_randr_get_screen_resources_current_reply(c, xcb_randr_get_screen_resources_current(c, root), nullptr);
  ASSERT_TRUE(resources);
  ASSERT_GE(xcb_randr_get_screen_resources_current_outputs_length(resources), 1);
  const xcb_randr_output_t output = xcb_randr_get_screen_resources_current_outputs(resources)[0];
  std::free(resources);
  const auto edid = edidNamed("Velmora 27");
  xcb_randr_change_output_property(c, output, atom(c, "EDID"), XCB_ATOM_INTEGER, 8, XCB_PROP_MODE_REPLACE, edid.size(),
                                   edid.data());
  xcb_flush(c);
  const int before = changes.count();
  const std::string xrandr = "xrandr -d " + server->name() + " --setmonitor ";
  ASSERT_EQ(std::system((xrandr + "LEFT 1280/300x1080/200+0+0 screen").c_str()), 0);
  ASSERT_EQ(std::system((xrandr + "RIGHT 1280/300x1080/200+1280+0 none").c_str()), 0);
  // Each xrandr call is a change of its own; the notices may come apart.
  EXPECT_TRUE(changes.waitFor(before + 1, 5s)) << "no change notice for new monitors";
  for (int seen = before + 2; client.screens().size() < 2 && changes.waitFor(seen, 5s); ++seen) {
  }

  const auto screens = client.screens();
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(toUInt32(screens[0].screenNumber), output);
  EXPECT_EQ(screens[0].localizedName, "Velmora 27");
  EXPECT_EQ(screens[0].frame, (Rect{0, 0, 1280, 1080}));
  EXPECT_EQ(toUInt32(screens[1].screenNumber), atom(c, "RIGHT"));
  EXPECT_EQ(screens[1].localizedName, "RIGHT");
  EXPECT_EQ(screens[1].frame, (Rect{1280, 0, 1280, 1080}));

  // No window manager: the root's children, top first, pids from _NET_WM_PID or X-Resource.
  const xcb_window_t back = makeWindow(c, root, 10, 20, 300, 200, true);
  const std::uint32_t pid = 4242;
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, back, atom(c, "_NET_WM_PID"), XCB_ATOM_CARDINAL, 32, 1, &pid);
  makeWindow(c, root, 1300, 40, 640, 360, true);
  makeWindow(c, root, 0, 0, 100, 100, false);  // never mapped: listed as not on screen
  const xcb_window_t gone = makeWindow(c, root, 0, 0, 100, 100, true);
  xcb_destroy_window(c, gone);
  auto* sync = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
  std::free(sync);

  // The client learns of them by events, a moment after the server.
  std::vector<WindowListEntry> ours;
  for (int i = 0; i < 250 && ours.size() != 3; ++i) {
    if (i > 0) std::this_thread::sleep_for(20ms);
    ours.clear();
    for (const auto& w : client.windows().value_or(std::vector<WindowListEntry>{})) {
      const auto owner = toInt32(w.ownerPID);
      if (owner == 4242 || owner == getpid()) ours.push_back(w);
    }
  }
  ASSERT_EQ(ours.size(), 3u);
  EXPECT_EQ(toBool(ours[0].isOnscreen), false);
  EXPECT_EQ(toRect(ours[1].bounds), (Rect{1300, 40, 640, 360}));
  EXPECT_EQ(toInt32(ours[1].ownerPID), getpid());
  EXPECT_EQ(toBool(ours[1].isOnscreen), true);
  EXPECT_EQ(toRect(ours[2].bounds), (Rect{10, 20, 300, 200}));
  EXPECT_EQ(toInt32(ours[2].ownerPID), 4242);
  EXPECT_EQ(client.windowOwners()->count(4242), 1u);
  // One owner's windows only, as the tracker reads them.
  const auto mine = client.windows(4242);
  ASSERT_TRUE(mine);
  ASSERT_EQ(mine->size(), 1u);
  EXPECT_EQ(toRect((*mine)[0].bounds), (Rect{10, 20, 300, 200}));
  EXPECT_EQ(client.windows(getpid())->size(), 2u);
  EXPECT_TRUE(client.windows(-1)->empty());

  // A window moved by another client is seen there without a read of ours.
  const std::uint32_t place[] = {700, 500};
  xcb_configure_window(c, back, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, place);
  xcb_flush(c);
  std::optional<Rect> moved;
  for (int i = 0; i < 250 && moved != Rect{700, 500, 300, 200}; ++i) {
    if (i > 0) std::this_thread::sleep_for(20ms);
    const auto list = client.windows(4242);
    moved = list && list->size() == 1 ? toRect(list->front().bounds) : std::nullopt;
  }
  EXPECT_EQ(moved, (Rect{700, 500, 300, 200}));
  xcb_disconnect(c);

  // The server goes away: reads give nothing, and the loss is logged once.
  const int display = *server->display();
  server->stop();
  for (int i = 0; i < 100 && client.connected(); ++i)
    std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(client.connected());
  EXPECT_FALSE(client.windows());
  EXPECT_TRUE(client.screens().empty());
  std::this_thread::sleep_for(600ms);
  EXPECT_EQ(capture->count("X server connection lost"), 1u);

  // It comes back on the same display: the client reconnects by itself.
  server = std::make_unique<Xvfb>(display);
  for (int i = 0; i < 250 && !client.connected(); ++i)
    std::this_thread::sleep_for(20ms);
  EXPECT_TRUE(client.connected());
  EXPECT_TRUE(client.windows());
  EXPECT_EQ(capture->count("X server connection restored"), 1u);
  setLogSink(nullptr);
}

}  // namespace
}  // namespace velmora::linuxos
