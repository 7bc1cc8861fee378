#include "platform/linux/kde/KWinWindowList.h"

namespace velmora::linuxos {

void KWinWindowList::setKWinOwner(std::optional<std::string> uniqueName) {
  std::lock_guard lock(mutex_);
  if (owner_ == uniqueName) return;
  owner_ = std::move(uniqueName);
  snapshot_.reset();
}

std::optional<std::string> KWinWindowList::kwinOwner() const {
  std::lock_guard lock(mutex_);
  return owner_;
}

KWinWindowList::Receipt KWinWindowList::receive(std::string_view sender, std::string_view text) {
  {
    std::lock_guard lock(mutex_);
    if (!owner_ || sender.empty() || sender != *owner_) {
      Receipt receipt{Outcome::foreignSender, !loggedForeign_, {}};
      loggedForeign_ = true;
      return receipt;
    }
  }
  // Parsed outside the lock so polls never wait on a large report.
  std::string error;
  std::optional<KWinSnapshot> parsed = parseKWinReport(text, &error);
  std::lock_guard lock(mutex_);
  if (!parsed) {
    Receipt receipt{Outcome::malformed, !loggedMalformed_, std::move(error)};
    loggedMalformed_ = true;
    return receipt;
  }
  // KWin may have changed while the report was parsed.
  if (!owner_ || sender != *owner_) return {Outcome::foreignSender, false, {}};
  snapshot_ = std::make_shared<const KWinSnapshot>(std::move(*parsed));
  return {};
}

std::shared_ptr<const KWinSnapshot> KWinWindowList::current() const {
  std::lock_guard lock(mutex_);
  return snapshot_;
}

std::optional<std::vector<WindowListEntry>> KWinWindowList::windows() const {
  auto snapshot = current();
  if (!snapshot) return std::nullopt;
  return snapshot->windows;
}

std::optional<std::vector<WindowListEntry>> KWinWindowList::windowsOf(Pid owner) const {
  auto snapshot = current();
  if (!snapshot) return std::nullopt;
  std::vector<WindowListEntry> mine;
  for (const WindowListEntry& entry : snapshot->windows) {
    if (toInt32(entry.ownerPID) == owner) mine.push_back(entry);
  }
  return mine;
}

WindowOwners KWinWindowList::owners() const {
  WindowOwners owners;
  if (auto snapshot = current()) {
    for (const WindowListEntry& entry : snapshot->windows) {
      if (auto pid = toInt32(entry.ownerPID)) owners.emplace(*pid, std::string());
    }
  }
  return owners;
}

std::optional<int> KWinWindowList::api() const {
  auto snapshot = current();
  if (!snapshot) return std::nullopt;
  return snapshot->api;
}

bool KWinWindowList::hasReport() const {
  return current() != nullptr;
}

}  // namespace velmora::linuxos
