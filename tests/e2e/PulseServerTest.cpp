// Against a real PulseAudio daemon of our own, started in a private runtime
// folder; skipped where pulseaudio is not installed.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/pulse/PulseAudioObjects.h"

extern char** environ;

namespace velmora::linuxos {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr auto kWait = 10s;

std::string findProgram(const std::string& name) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    const std::size_t end = dirs.find(':', start);
    const std::string dir = dirs.substr(start, end == std::string::npos ? std::string::npos : end - start);
    const std::string candidate = dir + "/" + name;
    if (!dir.empty() && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return {};
}

pid_t spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  for (const auto& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = -1;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

int run(const std::vector<std::string>& args) {
  const pid_t pid = spawn(args);
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void stop(pid_t& pid) {
  if (pid <= 0) return;
  ::kill(pid, SIGTERM);
  int status = 0;
  ::waitpid(pid, &status, 0);
  pid = -1;
}

AudioObjectPropertyAddress global(AudioObjectPropertySelector selector) {
  return {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
}

class PulseServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    daemon_ = findProgram("pulseaudio");
    if (daemon_.empty()) GTEST_SKIP() << "pulseaudio is not installed";
    char pattern[] = "/tmp/velmora-pulse-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
    fs::create_directories(dir_ / "run");
    fs::create_directories(dir_ / "home");
    // The daemon and pactl inherit these; the client under test finds the
    // server through PULSE_SERVER.
    ::setenv("XDG_RUNTIME_DIR", (dir_ / "run").c_str(), 1);
    ::setenv("HOME", (dir_ / "home").c_str(), 1);
    ::setenv("PULSE_SERVER", ("unix:" + (dir_ / "run" / "pulse" / "native").string()).c_str(), 1);
    startDaemon();
  }

  void TearDown() override {
    // Its thread runs our blocks: gone before the fields they touch.
    audio_.reset();
    stop(player_);
    stop(unmovable_);
    stop(server_);
    ::unsetenv("PULSE_SERVER");
    if (!dir_.empty()) {
      std::error_code ignored;
      fs::remove_all(dir_, ignored);
    }
  }

  void startDaemon() {
    server_ = spawn({daemon_, "-n", "--daemonize=no", "--exit-idle-time=-1", "--system=false", "--log-target=stderr",
                     "-L", "module-native-protocol-unix auth-anonymous=1", "-L",
                     "module-null-sink sink_name=a sink_properties='device.description=\"Aster U27\"'", "-L",
                     "module-null-sink sink_name=b sink_properties='device.description=\"Borel X\"'"});
    ASSERT_GT(server_, 0);
  }

  int pactl(const std::vector<std::string>& args) {
    std::vector<std::string> all{findProgram("pactl")};
    all.insert(all.end(), args.begin(), args.end());
    return run(all);
  }

  // Counts listener firings; the blocks run on the client's own thread.
  void listen(AudioObjectID object, AudioObjectPropertySelector selector) {
    ASSERT_EQ(audio_->addPropertyListenerBlock(object, global(selector), nullptr,
                                               [this, selector](std::uint32_t, const AudioObjectPropertyAddress*) {
                                                 std::lock_guard lock(mutex_);
                                                 ++fired_[selector];
                                                 changed_.notify_all();
                                               }),
              kAudioHardwareNoError);
  }

  template <typename Predicate>
  bool waitFor(Predicate predicate) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kWait, [&] { return predicate(); });
  }

  int firedCount(AudioObjectPropertySelector selector) {
    std::lock_guard lock(mutex_);
    return fired_[selector];
  }

  std::vector<AudioObjectID> list(AudioObjectPropertySelector selector) {
    std::uint32_t size = 0;
    if (audio_->getPropertyDataSize(kAudioObjectSystemObject, global(selector), size) != 0) return {};
    std::vector<AudioObjectID> ids(size / 4);
    if (audio_->getPropertyData(kAudioObjectSystemObject, global(selector), size, ids.data()) != 0) return {};
    ids.resize(size / 4);
    return ids;
  }

  AudioObjectID outputDevice(AudioObjectID stream) {
    AudioObjectID id = 0;
    std::uint32_t size = sizeof id;
    audio_->getPropertyData(stream, global(kAudioProcessPropertyOutputDevice), size, &id);
    return id;
  }

  OSStatus move(AudioObjectID stream, AudioObjectID device) {
    return audio_->setPropertyData(stream, global(kAudioProcessPropertyOutputDevice), sizeof device, &device);
  }

  AudioObjectID defaultDevice() {
    AudioObjectID id = 0;
    std::uint32_t size = sizeof id;
    audio_->getPropertyData(kAudioObjectSystemObject, global(kAudioHardwarePropertyDefaultOutputDevice), size, &id);
    return id;
  }

  std::string name(AudioObjectID id) {
    AudioStringRef ref;
    std::uint32_t size = kAudioStringRefSize;
    audio_->getPropertyString(id, global(kAudioObjectPropertyName), size, ref);
    return ref.value_or("?");
  }

  void makeClient() {
    audio_ = makePulseAudioObjects();
    audio_->setSinksChangedHandler([this] {
      std::lock_guard lock(mutex_);
      ++sinksChanged_;
      changed_.notify_all();
    });
    changed_.notify_all();
  }

  std::string daemon_;
  fs::path dir_;
  pid_t server_ = -1;
  pid_t player_ = -1;
  pid_t unmovable_ = -1;
  std::shared_ptr<PulseAudioObjects> audio_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<AudioObjectPropertySelector, int> fired_;
  int sinksChanged_ = 0;
};

TEST_F(PulseServerTest, FollowsARealServerThroughARestart) {
  makeClient();
  ASSERT_TRUE(waitFor([&] { return audio_->isConnected() && sinksChanged_ > 0; }));
  listen(kAudioObjectSystemObject, kAudioHardwarePropertyDefaultOutputDevice);
  listen(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);

  const auto sinks = list(kAudioHardwarePropertyDevices);
  ASSERT_EQ(sinks.size(), 2u);
  EXPECT_EQ(name(sinks[0]), "Aster U27");
  EXPECT_EQ(name(sinks[1]), "Borel X");
  std::uint32_t code = 0;
  std::uint32_t size = sizeof code;
  EXPECT_EQ(audio_->getPropertyData(sinks[0], global(kAudioDevicePropertyTransportType), size, &code), 0);
  EXPECT_EQ(code, fourCharCode("virt"));

  // Our own switch: the read-back agrees at once, the listener fires once.
  const AudioObjectID other = defaultDevice() == sinks[0] ? sinks[1] : sinks[0];
  EXPECT_EQ(audio_->setPropertyData(kAudioObjectSystemObject, global(kAudioHardwarePropertyDefaultOutputDevice),
                                    sizeof other, &other),
            kAudioHardwareNoError);
  EXPECT_EQ(defaultDevice(), other);
  ASSERT_TRUE(waitFor([&] { return fired_[kAudioHardwarePropertyDefaultOutputDevice] == 1; }));
  const AudioObjectID bogus = 999999;
  EXPECT_NE(audio_->setPropertyData(kAudioObjectSystemObject, global(kAudioHardwarePropertyDefaultOutputDevice),
                                    sizeof bogus, &bogus),
            kAudioHardwareNoError);

  // Someone else's switch.
  const AudioObjectID back = other == sinks[0] ? sinks[1] : sinks[0];
  ASSERT_EQ(pactl({"set-default-sink", back == sinks[0] ? "a" : "b"}), 0);
  ASSERT_TRUE(waitFor([&] { return fired_[kAudioHardwarePropertyDefaultOutputDevice] == 2; }));
  EXPECT_EQ(defaultDevice(), back);

  // The default sink goes away: the model takes the server's fallback.
  ASSERT_EQ(pactl({"load-module", "module-null-sink", "sink_name=c"}), 0);
  ASSERT_TRUE(waitFor([&] { return list(kAudioHardwarePropertyDevices).size() == 3; }));
  const int beforeC = firedCount(kAudioHardwarePropertyDefaultOutputDevice);
  ASSERT_EQ(pactl({"set-default-sink", "c"}), 0);
  ASSERT_TRUE(waitFor([&] { return fired_[kAudioHardwarePropertyDefaultOutputDevice] > beforeC; }));
  EXPECT_NE(defaultDevice(), sinks[0]);
  EXPECT_NE(defaultDevice(), sinks[1]);
  ASSERT_EQ(run({"/bin/sh", "-c", "pactl unload-module $(pactl list short modules | awk '/sink_name=c/ {print $1}')"}),
            0);
  ASSERT_TRUE(waitFor([&] {
    const AudioObjectID now = defaultDevice();
    return list(kAudioHardwarePropertyDevices).size() == 2 && (now == sinks[0] || now == sinks[1]);
  }));

  // A playing stream is a running process object with the player's pid.
  const std::string pacat = findProgram("pacat");
  if (!pacat.empty()) {
    player_ = spawn({pacat, "--playback", "/dev/zero"});
    ASSERT_TRUE(waitFor([&] { return fired_[kAudioHardwarePropertyProcessObjectList] >= 1; }));
    const auto streams = list(kAudioHardwarePropertyProcessObjectList);
    ASSERT_EQ(streams.size(), 1u);
    std::int32_t pid = 0;
    size = sizeof pid;
    EXPECT_EQ(audio_->getPropertyData(streams[0], global(kAudioProcessPropertyPID), size, &pid), 0);
    EXPECT_EQ(pid, player_);
    const int before = firedCount(kAudioHardwarePropertyProcessObjectList);
    stop(player_);
    ASSERT_TRUE(waitFor([&] { return fired_[kAudioHardwarePropertyProcessObjectList] > before; }));
    EXPECT_TRUE(list(kAudioHardwarePropertyProcessObjectList).empty());
  }

  // The server goes away: neutral reads, then it comes back by itself and
  // the listeners hear of it once.
  const int defaultsBefore = firedCount(kAudioHardwarePropertyDefaultOutputDevice);
  const int listsBefore = firedCount(kAudioHardwarePropertyProcessObjectList);
  stop(server_);
  ASSERT_TRUE(waitFor([&] { return !audio_->isConnected(); }));
  EXPECT_TRUE(list(kAudioHardwarePropertyDevices).empty());
  EXPECT_EQ(defaultDevice(), 0u);
  startDaemon();
  ASSERT_TRUE(waitFor([&] {
    return fired_[kAudioHardwarePropertyDefaultOutputDevice] > defaultsBefore &&
           fired_[kAudioHardwarePropertyProcessObjectList] > listsBefore;
  }));
  EXPECT_TRUE(audio_->isConnected());
  EXPECT_EQ(firedCount(kAudioHardwarePropertyDefaultOutputDevice), defaultsBefore + 1);
  EXPECT_EQ(firedCount(kAudioHardwarePropertyProcessObjectList), listsBefore + 1);
  const auto again = list(kAudioHardwarePropertyDevices);
  ASSERT_EQ(again.size(), 2u);
  EXPECT_NE(again[0], sinks[0]);
  EXPECT_EQ(name(again[0]), "Aster U27");
}

TEST_F(PulseServerTest, MovesStreamsUnlessTheyRefuse) {
  const std::string pacat = findProgram("pacat");
  if (pacat.empty()) GTEST_SKIP() << "pacat is not installed";
  makeClient();
  ASSERT_TRUE(waitFor([&] { return audio_->isConnected() && sinksChanged_ > 0; }));
  listen(kAudioObjectSystemObject, kAudioHardwarePropertyProcessObjectList);
  player_ = spawn({pacat, "--playback", "/dev/zero"});
  ASSERT_TRUE(waitFor([&] { return list(kAudioHardwarePropertyProcessObjectList).size() == 1; }));
  const AudioObjectID stream = list(kAudioHardwarePropertyProcessObjectList)[0];
  ASSERT_EQ(outputDevice(stream), defaultDevice());
  const auto sinks = list(kAudioHardwarePropertyDevices);
  const AudioObjectID other = defaultDevice() == sinks[0] ? sinks[1] : sinks[0];

  // Moved before the answer comes, and the stream's listener hears of it.
  listen(stream, kAudioProcessPropertyOutputDevice);
  EXPECT_EQ(move(stream, other), kAudioHardwareNoError);
  EXPECT_EQ(outputDevice(stream), other);
  EXPECT_TRUE(waitFor([&] { return fired_[kAudioProcessPropertyOutputDevice] == 1; }));
  EXPECT_NE(move(stream, 999999), kAudioHardwareNoError);
  EXPECT_NE(move(sinks[0], other), kAudioHardwareNoError);

  unmovable_ = spawn({VELMORA_E2E_TOOL, "unmovable"});
  ASSERT_GT(unmovable_, 0);
  ASSERT_TRUE(waitFor([&] { return list(kAudioHardwarePropertyProcessObjectList).size() == 2; }));
  const AudioObjectID pinned = list(kAudioHardwarePropertyProcessObjectList)[1];
  const AudioObjectID where = outputDevice(pinned);
  EXPECT_NE(move(pinned, where == sinks[0] ? sinks[1] : sinks[0]), kAudioHardwareNoError);
  EXPECT_EQ(outputDevice(pinned), where);
}

TEST(PulseWithoutServer, ReadsAreNeutralAndNothingHangs) {
  ::setenv("PULSE_SERVER", "unix:/nonexistent/velmora/native", 1);
  const auto start = std::chrono::steady_clock::now();
  auto audio = makePulseAudioObjects();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
  EXPECT_FALSE(audio->isConnected());
  std::uint32_t size = 99;
  EXPECT_EQ(audio->getPropertyDataSize(kAudioObjectSystemObject, global(kAudioHardwarePropertyDevices), size), 0);
  EXPECT_EQ(size, 0u);
  AudioObjectID id = 7;
  size = sizeof id;
  EXPECT_EQ(
      audio->getPropertyData(kAudioObjectSystemObject, global(kAudioHardwarePropertyDefaultOutputDevice), size, &id),
      0);
  EXPECT_EQ(id, 0u);
  EXPECT_EQ(audio->addPropertyListenerBlock(kAudioObjectSystemObject, global(kAudioHardwarePropertyProcessObjectList),
                                            nullptr, [](std::uint32_t, const AudioObjectPropertyAddress*) {}),
            0);
  const AudioObjectID device = 2;
  EXPECT_NE(audio->setPropertyData(kAudioObjectSystemObject, global(kAudioHardwarePropertyDefaultOutputDevice),
                                   sizeof device, &device),
            0);
  ::unsetenv("PULSE_SERVER");
}

}  // namespace
}  // namespace velmora::linuxos
