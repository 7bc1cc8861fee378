#include "platform/linux/kde/KWinReportFormat.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "platform/linux/common/CompositorJson.h"

namespace velmora::linuxos {
namespace {

using nlohmann::json;

bool fail(std::string* error, std::string reason) {
  if (error) *error = std::move(reason);
  return false;
}

// A coordinate: any finite number within the range a screen could have.
std::optional<double> coordinate(const json& value) {
  if (!value.is_number()) return std::nullopt;
  const double v = value.get<double>();
  if (!std::isfinite(v) || std::fabs(v) > 1e7) return std::nullopt;
  return v;
}

bool parseEntry(const json& item, WindowListEntry& entry, std::string* error) {
  if (!item.is_array() || item.size() != 6) return fail(error, "a window is not [pid, x, y, width, height, onScreen]");
  const json& pid = item[0];
  if (!pid.is_number_integer() || pid.get<std::int64_t>() < 0 ||
      pid.get<std::int64_t>() > std::numeric_limits<std::int32_t>::max()) {
    return fail(error, "a window's pid is not a process id");
  }
  const auto x = coordinate(item[1]);
  const auto y = coordinate(item[2]);
  const auto width = coordinate(item[3]);
  const auto height = coordinate(item[4]);
  if (!x || !y || !width || !height || *width < 0 || *height < 0) {
    return fail(error, "a window's frame is not a rectangle");
  }
  if (!item[5].is_boolean()) return fail(error, "a window's on-screen flag is not a boolean");
  // KWin gives its own internal windows pid 0: they have no owner to follow.
  if (const std::int64_t p = pid.get<std::int64_t>(); p > 0) entry.ownerPID = PlatformValue(p);
  entry.isOnscreen = PlatformValue(item[5].get<bool>());
  entry.bounds = PlatformValue(Rect{*x, *y, *width, *height});
  return true;
}

}  // namespace

std::optional<KWinSnapshot> parseKWinReport(std::string_view text, std::string* error) {
  if (text.size() > kMaxKWinReportBytes) {
    fail(error, "the report is too long");
    return std::nullopt;
  }
  const std::optional<json> parsed = parseCompositorJson(text, kMaxKWinReportBytes);
  if (!parsed || !parsed->is_object()) {
    fail(error, "the report is not a JSON object");
    return std::nullopt;
  }
  const json& doc = *parsed;
  KWinSnapshot snapshot;
  const auto api = doc.find("api");
  if (api == doc.end() || !api->is_number_integer() ||
      (api->get<std::int64_t>() != 5 && api->get<std::int64_t>() != 6)) {
    fail(error, "the report names no known scripting API");
    return std::nullopt;
  }
  snapshot.api = api->get<int>();
  const auto windows = doc.find("windows");
  if (windows == doc.end() || !windows->is_array()) {
    fail(error, "the report has no window list");
    return std::nullopt;
  }
  if (windows->size() > kMaxKWinReportWindows) {
    fail(error, "the report lists too many windows");
    return std::nullopt;
  }
  snapshot.windows.reserve(windows->size());
  for (const json& item : *windows) {
    WindowListEntry entry;
    if (!parseEntry(item, entry, error)) return std::nullopt;
    snapshot.windows.push_back(std::move(entry));
  }
  return snapshot;
}

}  // namespace velmora::linuxos
