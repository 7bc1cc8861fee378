#include "platform/sim/Scenario.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "platform/sim/ScenarioFields.h"
#include "platform/sim/ScenarioPositions.h"

namespace velmora::sim {

namespace {

using namespace scenario;

std::string numberText(double v) {
  std::string s = json(v).dump();
  if (s.size() > 2 && s.ends_with(".0")) s.resize(s.size() - 2);
  return s;
}

// What exists at a moment of the scenario, to check that every event names
// something that is there.
class World {
 public:
  void addDevice(const SimAudio::Device& device, const std::string& where) {
    claim(device.id, where);
    devices_[device.id] = device.outputs;
  }
  void removeDevice(AudioObjectID id) {
    devices_.erase(id);
    ids_.erase(id);
  }
  void removeStream(AudioObjectID id) {
    streams_.erase(id);
    ids_.erase(id);
  }
  bool hasDevice(AudioObjectID id) const { return devices_.contains(id); }
  bool hasStream(AudioObjectID id) const { return streams_.contains(id); }

  void addWindow(const std::string& id, Pid pid, const std::string& where) {
    if (!windows_.emplace(id, pid).second) throw Invalid{where, "duplicate window id " + inQuotes(id)};
  }
  bool hasWindow(const std::string& id) const { return windows_.contains(id); }
  void removeWindow(const std::string& id) { windows_.erase(id); }

  void addApp(Pid pid, const std::string& where) {
    if (processes_.contains(pid)) throw Invalid{where, "pid " + std::to_string(pid) + " is already a process"};
    if (!apps_.insert(pid).second) throw Invalid{where, "duplicate app pid " + std::to_string(pid)};
  }
  bool hasApp(Pid pid) const { return apps_.contains(pid); }
  void addProcess(Pid pid, Pid parent, const std::string& where) {
    if (apps_.contains(pid) || !processes_.emplace(pid, parent).second)
      throw Invalid{where, "duplicate process pid " + std::to_string(pid)};
  }

  // Quitting an app closes its windows and removes the streams of its
  // process tree.
  void quitApp(Pid pid) {
    apps_.erase(pid);
    std::erase_if(windows_, [pid](const auto& w) { return w.second == pid; });
    for (auto it = streams_.begin(); it != streams_.end();) {
      if (it->second && descendsFrom(processes_, *it->second, pid)) {
        ids_.erase(it->first);
        it = streams_.erase(it);
      } else {
        ++it;
      }
    }
  }

  void addStream(const SimAudio::Stream& stream, const std::string& where) {
    claim(stream.id, where);
    if (stream.pin && !devices_.contains(*stream.pin))
      throw Invalid{child(where, "device"), "stream names unknown device " + std::to_string(*stream.pin)};
    if (stream.pin && !devices_.at(*stream.pin))
      throw Invalid{child(where, "device"), "stream names device " + std::to_string(*stream.pin) + " without outputs"};
    streams_[stream.id] = stream.pid;
  }

 private:
  void claim(AudioObjectID id, const std::string& where) {
    if (id == kAudioObjectUnknown || id == kAudioObjectSystemObject)
      throw Invalid{where, "id " + std::to_string(id) + " is reserved"};
    if (!ids_.insert(id).second) throw Invalid{where, "duplicate id " + std::to_string(id)};
  }

  std::set<AudioObjectID> ids_;
  // Whether each device has outputs.
  std::map<AudioObjectID, bool> devices_;
  std::map<AudioObjectID, std::optional<Pid>> streams_;
  std::map<std::string, Pid> windows_;
  std::set<Pid> apps_;
  std::map<Pid, Pid> processes_;
};

const std::map<std::string, ScenarioEvent::Kind>& eventKinds() {
  using K = ScenarioEvent::Kind;
  static const std::map<std::string, K> kinds = {
      {"moveWindow", K::moveWindow},
      {"raiseWindow", K::raiseWindow},
      {"openWindow", K::openWindow},
      {"closeWindow", K::closeWindow},
      {"setRunning", K::setRunning},
      {"addStream", K::addStream},
      {"removeStream", K::removeStream},
      {"moveStream", K::moveStream},
      {"launchApp", K::launchApp},
      {"quitApp", K::quitApp},
      {"setDefault", K::setDefault},
      {"plug", K::plug},
      {"unplug", K::unplug},
      {"setDisplays", K::setDisplays},
      {"renameDevice", K::renameDevice},
      {"fail", K::fail},
  };
  return kinds;
}

ScenarioEvent readEvent(const json& value, const std::string& pointer, World& world) {
  using K = ScenarioEvent::Kind;
  Reader r(value, pointer, "an event");
  ScenarioEvent e;
  e.at = r.number("at");
  if (e.at < 0) throw Invalid{r.where("at"), "\"at\" must not be negative"};
  std::string doName = r.text("do");
  auto kind = eventKinds().find(doName);
  if (kind == eventKinds().end()) throw Invalid{r.where("do"), "unknown event " + inQuotes(doName)};
  e.kind = kind->second;

  auto needWindow = [&] {
    e.window = r.text("window");
    if (!world.hasWindow(e.window))
      throw Invalid{r.where("window"), doName + " names unknown window " + inQuotes(e.window)};
  };
  auto needStream = [&] {
    e.stream = r.objectID("stream");
    if (!world.hasStream(e.stream))
      throw Invalid{r.where("stream"), doName + " names unknown stream " + std::to_string(e.stream)};
  };
  auto needDevice = [&] {
    e.device = r.objectID("device");
    if (!world.hasDevice(e.device))
      throw Invalid{r.where("device"), doName + " names unknown device " + std::to_string(e.device)};
  };

  switch (e.kind) {
    case K::moveWindow:
      r.allowOnly({"at", "do", "window", "bounds"});
      needWindow();
      e.bounds = r.rect("bounds");
      break;
    case K::raiseWindow:
    case K::closeWindow:
      r.allowOnly({"at", "do", "window"});
      needWindow();
      if (e.kind == K::closeWindow) world.removeWindow(e.window);
      break;
    case K::openWindow:
      r.allowOnly({"at", "do", "window"});
      e.newWindow = readWindow(r.at("window"), r.where("window"));
      world.addWindow(e.newWindow.id, e.newWindow.pid, r.where("window"));
      break;
    case K::setRunning:
      r.allowOnly({"at", "do", "stream", "running"});
      needStream();
      if (!r.has("running")) throw Invalid{pointer, "setRunning needs \"running\""};
      e.running = r.boolean("running", false);
      break;
    case K::addStream:
      r.allowOnly({"at", "do", "stream"});
      e.newStream = readStream(r.at("stream"), r.where("stream"));
      world.addStream(e.newStream, r.where("stream"));
      break;
    case K::removeStream:
      r.allowOnly({"at", "do", "stream"});
      needStream();
      world.removeStream(e.stream);
      break;
    case K::moveStream:
      r.allowOnly({"at", "do", "stream", "device"});
      needStream();
      needDevice();
      break;
    case K::launchApp:
      r.allowOnly({"at", "do", "app"});
      e.app = readApp(r.at("app"), r.where("app"));
      world.addApp(e.app.processIdentifier, r.where("app"));
      break;
    case K::quitApp:
      r.allowOnly({"at", "do", "pid"});
      e.pid = r.pid("pid");
      if (!world.hasApp(e.pid)) throw Invalid{r.where("pid"), "quitApp names unknown app " + std::to_string(e.pid)};
      world.quitApp(e.pid);
      break;
    case K::setDefault:
      r.allowOnly({"at", "do", "device"});
      needDevice();
      break;
    case K::plug:
      r.allowOnly({"at", "do", "device"});
      e.newDevice = readDevice(r.at("device"), r.where("device"));
      world.addDevice(e.newDevice, r.where("device"));
      break;
    case K::unplug:
      r.allowOnly({"at", "do", "device"});
      needDevice();
      world.removeDevice(e.device);
      break;
    case K::setDisplays:
      r.allowOnly({"at", "do", "displays"});
      e.displays = readDisplays(r.at("displays"), r.where("displays"));
      break;
    case K::renameDevice:
      r.allowOnly({"at", "do", "device", "name"});
      needDevice();
      if (!r.has("name")) throw Invalid{pointer, "renameDevice needs \"name\""};
      e.name = r.optionalText("name");
      break;
    case K::fail:
      r.allowOnly({"at", "do", "operation", "count"});
      e.operation = r.text("operation");
      if (!isFailableOperation(e.operation))
        throw Invalid{r.where("operation"), "unknown operation " + inQuotes(e.operation)};
      e.count =
          r.has("count") ? static_cast<int>(r.integer("count", -1, 1000000000, "-1 (always) or a count >= 0")) : 1;
      break;
  }
  return e;
}

Scenario readScenario(const json& root) {
  Reader r(root, "", "the scenario");
  r.allowOnly({"displays", "devices", "defaultDevice", "apps", "processes", "windows", "streams", "events", "until"});
  Scenario s;
  World world;

  if (r.has("displays")) s.displays = readDisplays(r.at("displays"), r.where("displays"));
  if (r.has("devices")) {
    const json& list = r.list("devices");
    for (std::size_t i = 0; i < list.size(); ++i) {
      auto where = child(r.where("devices"), i);
      s.devices.push_back(readDevice(list[i], where));
      world.addDevice(s.devices.back(), where);
    }
  }
  if (r.has("defaultDevice")) {
    s.defaultDevice = r.objectID("defaultDevice");
    if (s.defaultDevice != 0 && !world.hasDevice(s.defaultDevice))
      throw Invalid{r.where("defaultDevice"), "defaultDevice " + std::to_string(s.defaultDevice) + " is not a device"};
  }
  if (r.has("apps")) {
    const json& list = r.list("apps");
    for (std::size_t i = 0; i < list.size(); ++i) {
      auto where = child(r.where("apps"), i);
      s.apps.push_back(readApp(list[i], where));
      world.addApp(s.apps.back().processIdentifier, where);
    }
  }
  if (r.has("processes")) {
    const json& list = r.list("processes");
    for (std::size_t i = 0; i < list.size(); ++i) {
      auto where = child(r.where("processes"), i);
      Reader p(list[i], where, "a process");
      p.allowOnly({"pid", "parent"});
      ScenarioProcess process{p.pid("pid"), p.pid("parent")};
      if (process.pid == process.parent) throw Invalid{where, "a process cannot be its own parent"};
      world.addProcess(process.pid, process.parent, where);
      s.processes.push_back(process);
    }
  }
  if (r.has("windows")) {
    const json& list = r.list("windows");
    for (std::size_t i = 0; i < list.size(); ++i) {
      auto where = child(r.where("windows"), i);
      s.windows.push_back(readWindow(list[i], where));
      world.addWindow(s.windows.back().id, s.windows.back().pid, where);
    }
  }
  if (r.has("streams")) {
    const json& list = r.list("streams");
    for (std::size_t i = 0; i < list.size(); ++i) {
      auto where = child(r.where("streams"), i);
      s.streams.push_back(readStream(list[i], where));
      world.addStream(s.streams.back(), where);
    }
  }
  if (r.has("events")) {
    const json& list = r.list("events");
    double previous = 0;
    for (std::size_t i = 0; i < list.size(); ++i) {
      auto where = child(r.where("events"), i);
      s.events.push_back(readEvent(list[i], where, world));
      double at = s.events.back().at;
      if (at < previous)
        throw Invalid{child(where, "at"), "event at " + numberText(at) + " comes before the previous one at " +
                                              numberText(previous) + " (events must be in time order)"};
      previous = at;
    }
  }
  s.until = r.number("until");
  if (s.until < 0) throw Invalid{r.where("until"), "\"until\" must not be negative"};
  return s;
}

}  // namespace

bool descendsFrom(const std::map<Pid, Pid>& parents, Pid pid, Pid ancestor) {
  for (int hops = 0; hops < 64; ++hops) {
    if (pid == ancestor) return true;
    auto it = parents.find(pid);
    if (it == parents.end()) return false;
    pid = it->second;
  }
  return false;
}

bool isFailableOperation(const std::string& name) {
  return operationFromName(name).has_value() || name == "windowList" || name == "parentPid";
}

ScenarioResult parseScenario(const std::string& text) {
  ScenarioResult result;
  json root;
  try {
    root = json::parse(text);
  } catch (const json::parse_error& e) {
    // The parser's message reads "... parse error at line L, column C: what".
    std::string_view what = e.what();
    ScenarioError error{"not valid JSON", 0, 0};
    auto number = [&](std::string_view prefix, std::size_t& out) {
      auto at = what.find(prefix);
      if (at == std::string_view::npos) return false;
      what.remove_prefix(at + prefix.size());
      auto [end, ec] = std::from_chars(what.data(), what.data() + what.size(), out);
      if (ec != std::errc()) return false;
      what.remove_prefix(static_cast<std::size_t>(end - what.data()));
      return true;
    };
    std::size_t line = 0, column = 0;
    if (number("at line ", line) && number(", column ", column) && what.starts_with(": ")) {
      error = ScenarioError{"not valid JSON: " + std::string(what.substr(2)), line, column};
    }
    result.error = error;
    return result;
  } catch (const json::out_of_range& e) {
    // A number past what a double holds. The message names the number,
    // "... number overflow parsing 'TOKEN'", but not its place.
    const std::string_view what = e.what();
    const auto open = what.find('\'');
    const auto close = what.rfind('\'');
    ScenarioError error{"not valid JSON: number out of range", 0, 0};
    if (open != std::string_view::npos && close > open) {
      if (auto at = numberPosition(text, what.substr(open + 1, close - open - 1))) {
        error.line = at->line;
        error.column = at->column;
      }
    }
    result.error = error;
    return result;
  }

  JsonPositions positions(text);
  try {
    if (positions.duplicateKey()) {
      const std::string& p = *positions.duplicateKey();
      throw Invalid{p, "duplicate key " + inQuotes(p.substr(p.rfind('/') + 1))};
    }
    result.scenario = readScenario(root);
  } catch (const Invalid& invalid) {
    TextPosition at = positions.at(invalid.pointer);
    result.error = ScenarioError{invalid.message, at.line, at.column};
  } catch (const json::exception& e) {
    result.error = ScenarioError{std::string("unreadable scenario: ") + e.what(), 0, 0};
  }
  return result;
}

}  // namespace velmora::sim
