#pragma once

// The one table of desktop applications Velmora recognises on Linux: which
// executables, Flatpak ids and Snap names belong to which identifier.

#include <string>
#include <string_view>
#include <vector>

namespace velmora::linuxos {

struct KnownApplication {
  std::string identifier;                // what runningApplication reports as bundleIdentifier
  std::vector<std::string> executables;  // basenames of /proc/PID/exe (or comm)
  std::vector<std::string> flatpakIds;
  std::vector<std::string> snapNames;
  std::vector<std::string> desktopIds;  // desktop files to take the Name from, in order
  bool linuxAddition = false;           // followed on Linux in addition to the fixed set
};

const std::vector<KnownApplication>& knownApplications();

const KnownApplication* knownByExecutable(std::string_view executable);
const KnownApplication* knownByFlatpakId(std::string_view flatpakId);
const KnownApplication* knownBySnapName(std::string_view snapName);

// The identifiers and Flatpak ids of the Linux additions.
std::vector<std::string> linuxMediaAppIdentifiers();

}  // namespace velmora::linuxos
