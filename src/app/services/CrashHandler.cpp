#include "app/services/CrashHandler.h"

#include <cxxabi.h>
#include <execinfo.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <typeinfo>

#include "app/services/SignalStack.h"
#include "platform/ThreadStart.h"

namespace velmora::app {

namespace {

constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT, SIGTRAP, SIGSYS};
constexpr int kMaxFrames = 64;
constexpr int kMaxModules = 32;
constexpr std::size_t kPathMax = 1024;
// How long a second faulting thread waits for the first one's record.
constexpr int kRecordWaitSteps = 500;
constexpr long kRecordWaitStepNs = 10'000'000;

// Fixed when the handlers are installed; only read at crash time.
char gDirectory[kPathMax];
char gRelease[256];
char gExceptionType[256];
std::atomic<bool> gTerminating{false};
// The thread writing the record (0 while none is), and whether it is written.
std::atomic<pid_t> gHandlingThread{0};
std::atomic<bool> gRecordDone{false};

// A bounded text builder over a static buffer: async-signal-safe.
struct Writer {
  char* buf;
  std::size_t cap;
  std::size_t len = 0;

  void put(const char* s) {
    while (*s && len + 1 < cap)
      buf[len++] = *s++;
    buf[len] = '\0';
  }
  void putDec(std::uint64_t v) {
    char tmp[24];
    int n = 0;
    do {
      tmp[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v);
    char out[24];
    for (int i = 0; i < n; ++i)
      out[i] = tmp[n - 1 - i];
    out[n] = '\0';
    put(out);
  }
  void putSigned(std::int64_t v) {
    if (v < 0) {
      put("-");
      putDec(static_cast<std::uint64_t>(-(v + 1)) + 1);
    } else {
      putDec(static_cast<std::uint64_t>(v));
    }
  }
  void putHex(std::uint64_t v) {
    static const char digits[] = "0123456789abcdef";
    char out[20] = "0x";
    char tmp[16];
    int n = 0;
    do {
      tmp[n++] = digits[v & 0xf];
      v >>= 4;
    } while (v);
    for (int i = 0; i < n; ++i)
      out[2 + i] = tmp[n - 1 - i];
    out[2 + n] = '\0';
    put(out);
  }
};

bool writeAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool parseHex(const char*& p, std::uint64_t& out) {
  out = 0;
  const char* start = p;
  for (;; ++p) {
    const char c = *p;
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else
      break;
    out = out * 16 + static_cast<std::uint64_t>(d);
  }
  return p != start;
}

struct Module {
  char path[kPathMax];
  std::uint64_t base;
};

struct Frame {
  std::uint64_t address;
  int module;  // -1 when no mapping holds it
  std::uint64_t offset;
};

Module gModules[kMaxModules];
Frame gFrames[kMaxFrames];
char gLine[kPathMax + 256];
char gChunk[4096];
char gRecord[32768];

// One line of /proc/self/maps: "start-end perms offset dev inode   path".
void resolveLine(const char* line, int frameCount, int& moduleCount, std::uint64_t& base, const char*& basePath) {
  const char* p = line;
  std::uint64_t start, end, fileOffset;
  if (!parseHex(p, start) || *p++ != '-' || !parseHex(p, end)) return;
  while (*p == ' ')
    ++p;
  while (*p && *p != ' ')
    ++p;  // perms
  while (*p == ' ')
    ++p;
  if (!parseHex(p, fileOffset)) return;
  for (int field = 0; field < 2; ++field) {  // dev, inode
    while (*p == ' ')
      ++p;
    while (*p && *p != ' ')
      ++p;
  }
  while (*p == ' ')
    ++p;
  const char* path = p;
  if (*path != '/') return;
  // The mapping at file offset 0 is the module's load base.
  if (fileOffset == 0) {
    base = start;
    basePath = path;
  }
  for (int i = 0; i < frameCount; ++i) {
    Frame& f = gFrames[i];
    if (f.module >= 0 || f.address < start || f.address >= end) continue;
    int m = 0;
    while (m < moduleCount && std::strcmp(gModules[m].path, path) != 0)
      ++m;
    if (m == moduleCount) {
      if (moduleCount == kMaxModules) continue;
      std::size_t n = 0;
      for (; path[n] && n + 1 < kPathMax; ++n)
        gModules[m].path[n] = path[n];
      gModules[m].path[n] = '\0';
      gModules[m].base = basePath && std::strcmp(basePath, path) == 0 ? base : start - fileOffset;
      ++moduleCount;
    }
    f.module = m;
    f.offset = f.address - gModules[m].base;
  }
}

// Reads /proc/self/maps with plain read(2) and assigns each frame a module.
int resolveModules(int frameCount) {
  int moduleCount = 0;
  const int fd = ::open("/proc/self/maps", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  std::size_t lineLen = 0;
  std::uint64_t base = 0;
  // basePath points into gLine, so it is only valid for the line it came from;
  // keep a copy of the base module's path instead.
  static char baseCopy[kPathMax];
  const char* basePath = nullptr;
  for (;;) {
    const ssize_t n = ::read(fd, gChunk, sizeof gChunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) {
      const char c = gChunk[i];
      if (c != '\n') {
        if (lineLen + 1 < sizeof gLine) gLine[lineLen++] = c;
        continue;
      }
      gLine[lineLen] = '\0';
      const char* newBase = basePath;
      resolveLine(gLine, frameCount, moduleCount, base, newBase);
      if (newBase != basePath && newBase) {
        std::size_t k = 0;
        for (; newBase[k] && k + 1 < kPathMax; ++k)
          baseCopy[k] = newBase[k];
        baseCopy[k] = '\0';
        basePath = baseCopy;
      }
      lineLen = 0;
    }
  }
  ::close(fd);
  return moduleCount;
}

void writeRecord(int sig, const siginfo_t* info) {
  void* addresses[kMaxFrames];
  const int frameCount = ::backtrace(addresses, kMaxFrames);
  for (int i = 0; i < frameCount; ++i)
    gFrames[i] = {reinterpret_cast<std::uintptr_t>(addresses[i]), -1, 0};
  const int moduleCount = resolveModules(frameCount);

  const pid_t tid = static_cast<pid_t>(::syscall(SYS_gettid));
  struct timespec now {};
  ::clock_gettime(CLOCK_REALTIME, &now);

  Writer w{gRecord, sizeof gRecord};
  w.put("velmora-crash 1\nrelease ");
  w.put(gRelease);
  w.put("\ntime ");
  w.putSigned(now.tv_sec);
  w.put("\nsignal ");
  w.putSigned(sig);
  w.put("\ncode ");
  w.putSigned(info ? info->si_code : 0);
  // si_addr is a fault address only for signals the kernel raised for a fault;
  // for kill/raise the same field holds the sender's pid.
  if (info && info->si_code > 0) {
    w.put("\naddress ");
    w.putHex(reinterpret_cast<std::uintptr_t>(info->si_addr));
  }
  w.put("\nthread ");
  w.putSigned(tid);
  w.put("\nmechanism ");
  w.put(gTerminating.load() ? "terminate" : "signal");
  if (gTerminating.load() && gExceptionType[0]) {
    w.put("\nexception ");
    w.put(gExceptionType);
  }
  w.put("\n");
  for (int m = 0; m < moduleCount; ++m) {
    w.put("module ");
    w.putDec(static_cast<std::uint64_t>(m));
    w.put(" ");
    w.putHex(gModules[m].base);
    w.put(" ");
    w.put(gModules[m].path);
    w.put("\n");
  }
  for (int i = 0; i < frameCount; ++i) {
    w.put("frame ");
    w.putHex(gFrames[i].address);
    if (gFrames[i].module >= 0) {
      w.put(" ");
      w.putDec(static_cast<std::uint64_t>(gFrames[i].module));
      w.put(" ");
      w.putHex(gFrames[i].offset);
    }
    w.put("\n");
  }
  w.put("end\n");

  // Written under a temporary name and renamed, so a half-written record is
  // never taken for a whole one.
  char finalPath[kPathMax + 64];
  char tmpPath[kPathMax + 64];
  Writer fp{finalPath, sizeof finalPath};
  fp.put(gDirectory);
  fp.put("/");
  fp.putSigned(now.tv_sec);
  fp.put("-");
  fp.putDec(static_cast<std::uint64_t>(now.tv_nsec));
  fp.put("-");
  fp.putSigned(::getpid());
  fp.put(".crash");
  Writer tp{tmpPath, sizeof tmpPath};
  tp.put(finalPath);
  tp.put(".tmp");

  const int fd = ::open(tmpPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const bool ok = writeAll(fd, gRecord, w.len);
  ::close(fd);
  if (ok)
    ::rename(tmpPath, finalPath);
  else
    ::unlink(tmpPath);
}

void dieWithDefault(int sig) {
  struct sigaction dfl {};
  dfl.sa_handler = SIG_DFL;
  sigemptyset(&dfl.sa_mask);
  ::sigaction(sig, &dfl, nullptr);
  // Pending until the handler returns (the signal is blocked in here); a
  // hardware fault would recur anyway when the instruction runs again.
  ::raise(sig);
}

void onFatalSignal(int sig, siginfo_t* info, void*) {
  const auto self = static_cast<pid_t>(::syscall(SYS_gettid));
  pid_t writer = 0;
  if (gHandlingThread.compare_exchange_strong(writer, self)) {
    writeRecord(sig, info);
    gRecordDone = true;
  } else if (writer != self) {
    // Another thread is writing the record: dying now would end the process
    // before it is complete. Its own death then ends us too; the wait is
    // bounded in case it never finishes.
    const struct timespec step { 0, kRecordWaitStepNs };
    for (int i = 0; i < kRecordWaitSteps && !gRecordDone.load(); ++i)
      ::nanosleep(&step, nullptr);
  }
  // A fault while writing the record just dies.
  dieWithDefault(sig);
}

void onTerminate() {
  if (auto* type = abi::__cxa_current_exception_type()) {
    std::strncpy(gExceptionType, type->name(), sizeof gExceptionType - 1);
  }
  gTerminating = true;
  std::abort();
}

bool makeDirectories(const std::string& dir) {
  for (std::size_t pos = dir.find('/', 1);; pos = dir.find('/', pos + 1)) {
    const std::string partial = dir.substr(0, pos);
    if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (pos == std::string::npos) break;
  }
  struct stat st {};
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

void prepareThreadsForCrashHandling() {
  installSignalStack();
  setThreadStartHook(&installSignalStack);
}

std::string defaultCrashDirectory() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  std::string base;
  if (cache && cache[0] == '/') {
    base = cache;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home ? home : "") + "/.cache";
  }
  return base + "/velmora/crashes";
}

bool installCrashHandlers(const std::string& directory, const std::string& release) {
  if (directory.empty() || directory.size() >= sizeof gDirectory || !makeDirectories(directory)) return false;
  std::strncpy(gDirectory, directory.c_str(), sizeof gDirectory - 1);
  std::strncpy(gRelease, release.c_str(), sizeof gRelease - 1);

  // backtrace() loads libgcc on its first call, which allocates: do it now.
  void* warm[2];
  ::backtrace(warm, 2);

  // Its own stack, so a stack overflow can still be recorded.
  installSignalStack();

  for (int sig : kFatalSignals) {
    struct sigaction sa {};
    sa.sa_sigaction = onFatalSignal;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    ::sigaction(sig, &sa, nullptr);
  }
  std::set_terminate(onTerminate);
  return true;
}

}  // namespace velmora::app
