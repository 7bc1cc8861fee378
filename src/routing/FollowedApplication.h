#pragma once

// The followed application and its playing streams, as the routing queue last
// saw them: copied to the main thread for the diagnostics dialog.

#include <optional>
#include <string>
#include <vector>

#include "platform/AudioObjects.h"
#include "platform/Types.h"

namespace velmora {

struct FollowedStream {
  AudioObjectID id = 0;
  // The sound server refused to move it.
  bool unmovable = false;

  friend bool operator==(const FollowedStream&, const FollowedStream&) = default;
};

struct FollowedApplication {
  Pid pid = 0;
  std::string name;
  std::vector<FollowedStream> streams;

  friend bool operator==(const FollowedApplication&, const FollowedApplication&) = default;
};

}  // namespace velmora
