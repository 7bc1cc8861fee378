#pragma once

// Hyprland's two sockets: the request socket answers one request per
// connection; the event socket streams "EVENT>>DATA" lines.

#include <chrono>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/linux/common/CompositorJson.h"
#include "platform/linux/common/WorkerThread.h"

namespace velmora::linuxos::hyprland {

struct SocketPaths {
  std::string request;
  std::string events;
};

struct SocketLocation {
  std::optional<SocketPaths> paths;
  // Why there are none, for the log.
  std::string problem;
};

// The instance's sockets: under $XDG_RUNTIME_DIR/hypr/SIG, or /tmp/hypr/SIG
// where older releases put them. When neither folder exists yet the runtime
// one is given, so that a compositor still starting is found later.
SocketLocation locateSockets(const std::optional<std::string>& signature, const std::optional<std::string>& runtimeDir,
                             const std::function<bool(const std::string& dir)>& dirExists);

// Sends command and reads the reply up to the end of the connection; none on
// any failure, when the reply exceeds limit, when the whole exchange takes
// longer than timeout, or when worker (may be null) is told to stop.
std::optional<std::string> request(const std::string& path, std::string_view command, WorkerThread* worker,
                                   std::chrono::milliseconds timeout = std::chrono::seconds(2),
                                   std::size_t limit = kMaxCompositorJsonBytes);

// Appends chunk to buffer and takes the complete lines out of it. A line
// longer than maxLine is dropped whole, up to its newline.
std::vector<std::string> takeLines(std::string& buffer, bool& skipping, std::string_view chunk,
                                   std::size_t maxLine = 64 * 1024);

}  // namespace velmora::linuxos::hyprland
