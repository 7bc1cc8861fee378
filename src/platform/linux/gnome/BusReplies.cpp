#include "platform/linux/gnome/BusReplies.h"

#include <systemd/sd-bus.h>

#include <functional>
#include <string>

namespace velmora::linuxos::gnome {
namespace {

bool ok(int r) {
  return r >= 0;
}

std::string inner(const char* contents) {
  const std::string s(contents);
  return s.size() >= 2 ? s.substr(1, s.size() - 2) : std::string();
}

// An array of structs or dict entries: enters each element.
bool eachEntry(sd_bus_message* m, const char* contents, const std::function<bool()>& body) {
  const std::string elementSignature = inner(contents);
  const char type = contents[0] == '{' ? SD_BUS_TYPE_DICT_ENTRY : SD_BUS_TYPE_STRUCT;
  if (sd_bus_message_enter_container(m, SD_BUS_TYPE_ARRAY, contents) <= 0) return false;
  while (true) {
    const int r = sd_bus_message_enter_container(m, type, elementSignature.c_str());
    if (r < 0) return false;
    if (r == 0) break;
    if (!body()) return false;
    if (!ok(sd_bus_message_exit_container(m))) return false;
  }
  return ok(sd_bus_message_exit_container(m));
}

// a{sv}: calls onValue(key) for each entry; onValue reads the variant or
// returns false to have it skipped.
bool eachProperty(sd_bus_message* m, const std::function<bool(const std::string&)>& readValue) {
  return eachEntry(m, "{sv}", [&] {
    const char* key = nullptr;
    if (!ok(sd_bus_message_read_basic(m, SD_BUS_TYPE_STRING, &key))) return false;
    if (readValue(key)) return true;
    return ok(sd_bus_message_skip(m, "v"));
  });
}

// The variant's value when it holds exactly the given basic type; the
// variant is consumed either way.
template <typename T>
bool readVariant(sd_bus_message* m, char type, T& out) {
  const char contents[2] = {type, 0};
  char peeked = 0;
  const char* peekedContents = nullptr;
  if (sd_bus_message_peek_type(m, &peeked, &peekedContents) <= 0) return false;
  // Another type: left for the caller to skip.
  if (peeked != SD_BUS_TYPE_VARIANT || !peekedContents || std::string(peekedContents) != contents) return false;
  if (sd_bus_message_enter_container(m, SD_BUS_TYPE_VARIANT, contents) <= 0) return false;
  if (!ok(sd_bus_message_read_basic(m, type, &out))) return false;
  return ok(sd_bus_message_exit_container(m));
}

bool readMonitor(sd_bus_message* m, MutterMonitor& monitor) {
  const char *connector = nullptr, *vendor = nullptr, *product = nullptr, *serial = nullptr;
  if (!ok(sd_bus_message_read(m, "(ssss)", &connector, &vendor, &product, &serial))) return false;
  monitor.connector = connector;
  monitor.vendor = vendor;
  monitor.product = product;
  monitor.serial = serial;
  const bool modes = eachEntry(m, "(siiddada{sv})", [&] {
    const char* id = nullptr;
    std::int32_t width = 0, height = 0;
    double refresh = 0, preferredScale = 0;
    if (!ok(sd_bus_message_read(m, "siidd", &id, &width, &height, &refresh, &preferredScale))) return false;
    if (!ok(sd_bus_message_skip(m, "ad"))) return false;
    int current = 0;
    if (!eachProperty(m, [&](const std::string& key) {
          return key == "is-current" && readVariant(m, SD_BUS_TYPE_BOOLEAN, current);
        }))
      return false;
    if (current) {
      monitor.width = width;
      monitor.height = height;
    }
    return true;
  });
  if (!modes) return false;
  return eachProperty(m, [&](const std::string& key) {
    const char* name = nullptr;
    if (key != "display-name" || !readVariant(m, SD_BUS_TYPE_STRING, name)) return false;
    monitor.displayName = std::string(name);
    return true;
  });
}

bool readLogicalMonitor(sd_bus_message* m, MutterLogicalMonitor& logical) {
  int primary = 0;
  if (!ok(sd_bus_message_read(m, "iidub", &logical.x, &logical.y, &logical.scale, &logical.transform, &primary)))
    return false;
  logical.primary = primary != 0;
  const bool monitors = eachEntry(m, "(ssss)", [&] {
    const char *connector = nullptr, *vendor = nullptr, *product = nullptr, *serial = nullptr;
    if (!ok(sd_bus_message_read(m, "ssss", &connector, &vendor, &product, &serial))) return false;
    logical.connectors.emplace_back(connector);
    return true;
  });
  return monitors && ok(sd_bus_message_skip(m, "a{sv}"));
}

}  // namespace

std::optional<MutterState> readCurrentState(sd_bus_message* reply) {
  if (!reply) return std::nullopt;
  MutterState state;
  std::uint32_t serial = 0;
  if (!ok(sd_bus_message_read_basic(reply, SD_BUS_TYPE_UINT32, &serial))) return std::nullopt;
  const bool monitors = eachEntry(reply, "((ssss)a(siiddada{sv})a{sv})", [&] {
    MutterMonitor monitor;
    if (!readMonitor(reply, monitor)) return false;
    state.monitors.push_back(std::move(monitor));
    return true;
  });
  if (!monitors) return std::nullopt;
  const bool logicals = eachEntry(reply, "(iiduba(ssss)a{sv})", [&] {
    MutterLogicalMonitor logical;
    if (!readLogicalMonitor(reply, logical)) return false;
    state.logicalMonitors.push_back(std::move(logical));
    return true;
  });
  if (!logicals) return std::nullopt;
  std::uint32_t mode = 0;
  const bool properties = eachProperty(reply, [&](const std::string& key) {
    return key == "layout-mode" && readVariant(reply, SD_BUS_TYPE_UINT32, mode);
  });
  if (!properties) return std::nullopt;
  if (mode == static_cast<std::uint32_t>(LayoutMode::logical)) state.layoutMode = LayoutMode::logical;
  return state;
}

std::optional<std::vector<ShellWindow>> readWindows(sd_bus_message* reply) {
  if (!reply) return std::nullopt;
  std::vector<ShellWindow> windows;
  const bool read = eachEntry(reply, "(iiiii)", [&] {
    ShellWindow w;
    if (!ok(sd_bus_message_read(reply, "iiiii", &w.pid, &w.x, &w.y, &w.width, &w.height))) return false;
    windows.push_back(w);
    return true;
  });
  if (!read) return std::nullopt;
  return windows;
}

std::optional<std::uint32_t> readUint32Property(sd_bus_message* reply) {
  if (!reply) return std::nullopt;
  std::uint32_t value = 0;
  if (!readVariant(reply, SD_BUS_TYPE_UINT32, value)) return std::nullopt;
  return value;
}

}  // namespace velmora::linuxos::gnome
