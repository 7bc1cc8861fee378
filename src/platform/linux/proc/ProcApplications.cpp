#include "platform/linux/proc/ProcApplications.h"

#include "platform/linux/proc/KnownApplications.h"

namespace velmora::linuxos {

ProcApplications::ProcApplications(ProcApplicationsOptions options)
    : options_(std::move(options)), proc_(options_.procRoot), desktopEntries_(options_.dataDirs) {}

std::optional<ProcApplications::Identity> ProcApplications::identity(Pid pid, std::optional<std::uint64_t> startTime) {
  const std::optional<std::string> exe = proc_.executableName(pid);
  if (!exe) return std::nullopt;
  if (!startTime) return readIdentity(pid, *exe);
  {
    std::lock_guard lock(identitiesMutex_);
    if (auto it = identities_.find(pid);
        it != identities_.end() && it->second.startTime == *startTime && it->second.exe == *exe) {
      return it->second.identity;
    }
  }
  std::optional<Identity> found = readIdentity(pid, *exe);
  std::lock_guard lock(identitiesMutex_);
  // Pids come and go; a bound keeps the memory of long sessions flat.
  constexpr std::size_t kMaxRemembered = 256;
  if (identities_.size() >= kMaxRemembered && !identities_.contains(pid)) identities_.clear();
  identities_.insert_or_assign(pid, KnownIdentity{*startTime, *exe, found});
  return found;
}

std::optional<ProcApplications::Identity> ProcApplications::readIdentity(Pid pid, const std::string& exe) const {
  // Flatpak's bwrap shares the sandbox's root; it is the launcher, not the app.
  if (exe != "bwrap") {
    if (const auto flatpakId = proc_.flatpakAppId(pid)) {
      std::vector<std::string> desktopIds;
      std::string bundleID = *flatpakId;
      if (const KnownApplication* known = knownByFlatpakId(*flatpakId)) {
        bundleID = known->identifier;
        desktopIds = known->desktopIds;
      }
      desktopIds.push_back(*flatpakId + ".desktop");
      return Identity{std::move(bundleID), std::move(desktopIds)};
    }
  }
  if (const auto snap = proc_.snapName(pid)) {
    std::vector<std::string> desktopIds;
    std::string bundleID = *snap;
    if (const KnownApplication* known = knownBySnapName(*snap)) {
      bundleID = known->identifier;
      desktopIds = known->desktopIds;
    }
    desktopIds.push_back(*snap + "_" + *snap + ".desktop");
    return Identity{std::move(bundleID), std::move(desktopIds)};
  }
  if (const KnownApplication* known = knownByExecutable(exe)) return Identity{known->identifier, known->desktopIds};
  return std::nullopt;
}

std::shared_ptr<const WindowOwners> ProcApplications::windowOwners() {
  if (!options_.windowOwners) return nullptr;
  std::lock_guard lock(ownersMutex_);
  const auto now = options_.now();
  if (!owners_ || now - ownersRead_ >= options_.ownersTtl || now < ownersRead_) {
    owners_ = std::make_shared<const WindowOwners>(options_.windowOwners());
    ownersRead_ = now;
  }
  return owners_;
}

std::optional<RunningApplication> ProcApplications::runningApplication(Pid pid, OwnersRef& ownersRef) {
  if (pid <= 0) return std::nullopt;
  const std::optional<ProcStat> stat = proc_.stat(pid);
  if (!stat) return std::nullopt;

  // The window list is only read for processes that need it, at most once per lookup.
  auto owners = [&]() -> const WindowOwners* {
    if (!ownersRef) ownersRef = windowOwners();
    return ownersRef.get();
  };
  auto windowClass = [&]() -> std::optional<std::string> {
    if (!owners()) return std::nullopt;
    auto it = owners()->find(pid);
    if (it == owners()->end()) return std::nullopt;
    return it->second;
  };
  auto executableName = [&]() -> std::optional<std::string> {
    auto exe = proc_.executableName(pid);
    return exe ? exe : std::optional<std::string>(stat->command);
  };

  if (const std::optional<Identity> own = identity(pid, stat->startTime)) {
    const std::optional<ProcStat> parentStat = proc_.stat(stat->parent);
    const std::optional<Identity> parent = parentStat ? identity(stat->parent, parentStat->startTime) : std::nullopt;
    if (parent && parent->bundleID == own->bundleID) return std::nullopt;
    RunningApplication app{pid, own->bundleID, desktopEntries_.name(own->desktopIds)};
    if (!app.localizedName) app.localizedName = windowClass();
    if (!app.localizedName || app.localizedName->empty()) app.localizedName = executableName();
    return app;
  }
  if (!owners() || !owners()->contains(pid)) return std::nullopt;
  RunningApplication app{pid, std::nullopt, windowClass()};
  if (!app.localizedName || app.localizedName->empty()) app.localizedName = executableName();
  return app;
}

std::optional<RunningApplication> ProcApplications::runningApplication(Pid pid) {
  OwnersRef owners;
  return runningApplication(pid, owners);
}

std::vector<RunningApplication> ProcApplications::runningApplications() {
  OwnersRef owners;
  std::vector<RunningApplication> apps;
  for (Pid pid : proc_.pids()) {
    if (auto app = runningApplication(pid, owners)) apps.push_back(std::move(*app));
  }
  return apps;
}

std::optional<Pid> ProcApplications::parentPid(Pid pid) {
  const std::optional<ProcStat> stat = proc_.stat(pid);
  if (!stat) return std::nullopt;
  return stat->parent;
}

std::vector<std::string> ProcApplications::additionalMediaApps() const {
  return linuxMediaAppIdentifiers();
}

}  // namespace velmora::linuxos
