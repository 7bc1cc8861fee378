#include "platform/sim/ScenarioFields.h"

namespace velmora::sim::scenario {

std::vector<PlatformScreen> readDisplays(const json& list, const std::string& pointer) {
  if (!list.is_array()) throw Invalid{pointer, "\"displays\" must be a list"};
  std::vector<PlatformScreen> out;
  for (std::size_t i = 0; i < list.size(); ++i) {
    Reader r(list[i], child(pointer, i), "a display");
    r.allowOnly({"id", "name", "frame"});
    PlatformScreen screen;
    if (r.has("id")) {
      const json& id = r.at("id");
      // Any value is allowed: a screen number that is not an unsigned 32-bit
      // integer is exactly what some scenarios model.
      if (id.is_number_unsigned()) {
        auto u = id.get<std::uint64_t>();
        screen.screenNumber = u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())
                                  ? PlatformValue(static_cast<std::int64_t>(u))
                                  : PlatformValue(static_cast<double>(u));
      } else if (id.is_number_integer()) {
        screen.screenNumber = PlatformValue(id.get<std::int64_t>());
      } else if (id.is_number_float()) {
        screen.screenNumber = PlatformValue(id.get<double>());
      } else if (id.is_string()) {
        screen.screenNumber = PlatformValue(id.get<std::string>());
      } else if (id.is_boolean()) {
        screen.screenNumber = PlatformValue(id.get<bool>());
      } else if (!id.is_null()) {
        throw Invalid{r.where("id"), "\"id\" must be a number or text"};
      }
    }
    screen.localizedName = r.text("name");
    screen.frame = r.rect("frame");
    out.push_back(std::move(screen));
  }
  return out;
}

SimAudio::Device readDevice(const json& value, const std::string& pointer) {
  Reader r(value, pointer, "a device");
  r.allowOnly({"id", "name", "outputs", "canBeDefault", "alive", "transport"});
  SimAudio::Device d;
  d.id = r.objectID("id");
  d.name = r.optionalText("name");
  d.outputs = r.boolean("outputs", true);
  d.canBeDefault = r.boolean("canBeDefault", true);
  d.alive = r.boolean("alive", true);
  if (r.has("transport")) {
    std::string t = r.text("transport");
    bool printable = t.size() == 4;
    for (unsigned char c : t)
      printable = printable && c >= 0x20 && c < 0x7F;
    if (!printable) throw Invalid{r.where("transport"), "\"transport\" must be four printable ASCII characters"};
    char code[5] = {t[0], t[1], t[2], t[3], 0};
    d.transport = fourCharCode(code);
  }
  return d;
}

SimAudio::Stream readStream(const json& value, const std::string& pointer) {
  Reader r(value, pointer, "a stream");
  r.allowOnly({"id", "pid", "bundleID", "running", "device", "movable"});
  SimAudio::Stream s;
  s.id = r.objectID("id");
  if (r.has("pid")) s.pid = r.pid("pid");
  s.bundleID = r.optionalText("bundleID");
  s.running = r.boolean("running", false);
  if (r.has("device")) s.pin = r.objectID("device");
  s.movable = r.boolean("movable", true);
  return s;
}

RunningApplication readApp(const json& value, const std::string& pointer) {
  Reader r(value, pointer, "an app");
  r.allowOnly({"pid", "bundleID", "name"});
  RunningApplication app;
  app.processIdentifier = r.pid("pid");
  app.bundleIdentifier = r.optionalText("bundleID");
  app.localizedName = r.optionalText("name");
  return app;
}

SimWindow readWindow(const json& value, const std::string& pointer) {
  Reader r(value, pointer, "a window");
  r.allowOnly({"id", "pid", "bounds", "onscreen"});
  SimWindow w;
  w.id = r.text("id");
  w.pid = r.pid("pid");
  w.bounds = r.rect("bounds");
  if (r.has("onscreen") && r.at("onscreen").is_null())
    w.onscreen = std::nullopt;
  else
    w.onscreen = r.boolean("onscreen", true);
  return w;
}
}  // namespace velmora::sim::scenario
