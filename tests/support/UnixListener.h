#pragma once

// A listening unix stream socket at path for the tests' stand-in
// compositors; -1 (and a test failure) when it cannot be made.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace velmora::test {

inline int listenAt(const std::string& path, int backlog = 8) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, backlog) != 0) {
    ADD_FAILURE() << "cannot listen at " << path;
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace velmora::test
