// Small helpers for the end-to-end scripts that the shell cannot do alone.
//   velmora-e2e-tool ipc SOCKET JSON   sends one command to mpv's IPC socket and
//                                      prints the reply line; fails when mpv
//                                      reports an error or does not answer
//                                      within 5 s.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr int kReplyTimeoutMs = 5000;

int usage() {
  std::fprintf(stderr, "usage: velmora-e2e-tool ipc SOCKET JSON\n");
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

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string_view(argv[1]) == "ipc") return ipc(argv[2], argv[3]);
  return usage();
}
