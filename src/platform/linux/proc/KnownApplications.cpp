#include "platform/linux/proc/KnownApplications.h"

#include <algorithm>

namespace velmora::linuxos {

const std::vector<KnownApplication>& knownApplications() {
  static const std::vector<KnownApplication> table = {
      {"org.mozilla.firefox",
       {"firefox", "firefox-bin", "firefox-esr"},
       {"org.mozilla.firefox"},
       {"firefox"},
       {"firefox.desktop", "firefox-esr.desktop", "org.mozilla.firefox.desktop", "firefox_firefox.desktop"}},
      {"com.google.Chrome",
       {"chrome", "google-chrome", "google-chrome-stable"},
       {"com.google.Chrome"},
       {},
       {"google-chrome.desktop", "com.google.Chrome.desktop"}},
      {"org.videolan.vlc",
       {"vlc"},
       {"org.videolan.VLC"},
       {"vlc"},
       {"vlc.desktop", "org.videolan.VLC.desktop", "vlc_vlc.desktop"}},
      {"com.plex.Plex",
       {"Plex", "plex", "plex-desktop", "plexmediaplayer", "Plex HTPC", "plex-htpc"},
       {"tv.plex.PlexDesktop", "tv.plex.PlexHTPC"},
       {"plex-desktop", "plex-htpc"},
       {"tv.plex.PlexDesktop.desktop", "plex-desktop_plex-desktop.desktop", "tv.plex.PlexHTPC.desktop",
        "plex-htpc_plex-htpc.desktop", "plexmediaplayer.desktop"}},
      {"org.chromium.Chromium",
       {"chromium", "chromium-browser"},
       {"org.chromium.Chromium"},
       {"chromium"},
       {"chromium.desktop", "chromium-browser.desktop", "org.chromium.Chromium.desktop", "chromium_chromium.desktop"},
       true},
      {"io.mpv.Mpv", {"mpv"}, {"io.mpv.Mpv"}, {"mpv"}, {"mpv.desktop", "io.mpv.Mpv.desktop"}, true},
      {"io.github.celluloid_player.Celluloid",
       {"celluloid"},
       {"io.github.celluloid_player.Celluloid"},
       {"celluloid"},
       {"io.github.celluloid_player.Celluloid.desktop", "celluloid_celluloid.desktop"},
       true},
      {"org.gnome.Totem", {"totem"}, {"org.gnome.Totem"}, {}, {"org.gnome.Totem.desktop"}, true},
      {"org.kde.haruna", {"haruna"}, {"org.kde.haruna"}, {"haruna"}, {"org.kde.haruna.desktop"}, true},
      {"info.smplayer.SMPlayer",
       {"smplayer"},
       {"info.smplayer.SMPlayer"},
       {"smplayer"},
       {"smplayer.desktop", "info.smplayer.SMPlayer.desktop", "smplayer_smplayer.desktop"},
       true},
      {"tv.kodi.Kodi",
       {"kodi", "kodi.bin", "kodi-x11", "kodi-wayland", "kodi-gbm"},
       {"tv.kodi.Kodi"},
       {"kodi"},
       {"kodi.desktop", "tv.kodi.Kodi.desktop"},
       true},
      {"com.brave.Browser",
       {"brave", "brave-browser"},
       {"com.brave.Browser"},
       {"brave"},
       {"brave-browser.desktop", "com.brave.Browser.desktop", "brave_brave.desktop"},
       true},
      {"com.microsoft.Edge",
       {"msedge", "microsoft-edge", "microsoft-edge-stable"},
       {"com.microsoft.Edge"},
       {},
       {"microsoft-edge.desktop", "com.microsoft.Edge.desktop"},
       true},
  };
  return table;
}

namespace {

const KnownApplication* findBy(std::string_view key, std::vector<std::string> KnownApplication::*field) {
  for (const KnownApplication& app : knownApplications()) {
    const auto& names = app.*field;
    if (std::find(names.begin(), names.end(), key) != names.end()) return &app;
  }
  return nullptr;
}

}  // namespace

const KnownApplication* knownByExecutable(std::string_view executable) {
  return findBy(executable, &KnownApplication::executables);
}

const KnownApplication* knownByFlatpakId(std::string_view flatpakId) {
  return findBy(flatpakId, &KnownApplication::flatpakIds);
}

const KnownApplication* knownBySnapName(std::string_view snapName) {
  return findBy(snapName, &KnownApplication::snapNames);
}

std::vector<std::string> linuxMediaAppIdentifiers() {
  std::vector<std::string> ids;
  for (const KnownApplication& app : knownApplications()) {
    if (!app.linuxAddition) continue;
    ids.push_back(app.identifier);
    for (const std::string& flatpakId : app.flatpakIds) {
      if (std::find(ids.begin(), ids.end(), flatpakId) == ids.end()) ids.push_back(flatpakId);
    }
  }
  return ids;
}

}  // namespace velmora::linuxos
