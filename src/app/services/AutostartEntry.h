#pragma once

// The login item on Linux: an XDG autostart entry in
// $XDG_CONFIG_HOME/autostart/ that the session starts at login.

#include <optional>
#include <string>

namespace velmora::app {

enum class LoginItemStatus { enabled, notRegistered, disabled, notFound };

struct LoginItemResult {
  bool ok = true;
  std::string description;  // the path and the system's reason when !ok
};

class AutostartEntry {
 public:
  // configHome: the XDG config home; executable: the absolute path to start,
  // or none when the running executable cannot be located.
  AutostartEntry(std::string configHome, std::optional<std::string> executable);

  // From the environment: $XDG_CONFIG_HOME (else ~/.config) and the running
  // executable ($APPIMAGE when run from an AppImage).
  static AutostartEntry forCurrentUser();

  LoginItemStatus status() const;
  LoginItemResult registerEntry() const;
  LoginItemResult unregisterEntry() const;

  std::string directory() const;
  std::string entryPath() const;

  // Exec= value for one program path, as written in the file: quoted and
  // escaped as the Desktop Entry format requires; none for paths it cannot
  // carry (control characters).
  static std::optional<std::string> execValue(const std::string& program);
  // The program named by an Exec= value as keyFileValue reads it (string
  // escapes undone), or none when it cannot be parsed.
  static std::optional<std::string> programOfExec(const std::string& exec);

 private:
  std::string configHome_;
  std::optional<std::string> executable_;
};

}  // namespace velmora::app
