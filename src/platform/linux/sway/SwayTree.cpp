#include "platform/linux/sway/SwayTree.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/linux/common/CompositorJson.h"
#include "platform/linux/common/DisplayText.h"
#include "platform/linux/sway/SwayIpc.h"

namespace velmora::linuxos {

namespace {

using nlohmann::json;

std::string stringMember(const json& object, const char* key) {
  const json* value = jsonMember(object, key);
  return value && value->is_string() ? value->get<std::string>() : std::string();
}

bool trueMember(const json& object, const char* key) {
  const json* value = jsonMember(object, key);
  return value && value->is_boolean() && value->get<bool>();
}

std::optional<Pid> pidOf(const json& node) {
  const json* pid = jsonMember(node, "pid");
  if (!pid || !pid->is_number_integer()) return std::nullopt;
  if (pid->is_number_unsigned()) {
    const auto v = pid->get<std::uint64_t>();
    if (v == 0 || v > static_cast<std::uint64_t>(std::numeric_limits<Pid>::max())) return std::nullopt;
    return static_cast<Pid>(v);
  }
  const auto v = pid->get<std::int64_t>();
  if (v <= 0 || v > std::numeric_limits<Pid>::max()) return std::nullopt;
  return static_cast<Pid>(v);
}

// sway lays windows out in 32-bit integers; anything else is not a window's place.
std::optional<Rect> rectOf(const json& node) {
  const json* rect = jsonMember(node, "rect");
  if (!rect || !rect->is_object()) return std::nullopt;
  double v[4];
  const char* keys[4] = {"x", "y", "width", "height"};
  constexpr double kLimit = std::numeric_limits<std::int32_t>::max();
  for (int i = 0; i < 4; ++i) {
    const json* field = jsonMember(*rect, keys[i]);
    if (!field || !field->is_number()) return std::nullopt;
    v[i] = field->get<double>();
    if (!std::isfinite(v[i]) || std::abs(v[i]) > kLimit) return std::nullopt;
  }
  if (v[2] <= 0 || v[3] <= 0 || v[0] + v[2] > kLimit || v[1] + v[3] > kLimit) return std::nullopt;
  return Rect{v[0], v[1], v[2], v[3]};
}

bool hasChildren(const json& node, const char* key) {
  const json* children = jsonMember(node, key);
  return children && children->is_array() && !children->empty();
}

struct View {
  const json* node;
  // The workspace whose floating list holds this window; null when tiled.
  const json* floatingOwner;
};

// Every window under the root in tree order, without recursion: a hostile
// tree cannot exhaust the stack. The scratchpad's pseudo-output is included
// here for the owners; its windows are never visible.
std::vector<View> viewsOf(const json& root) {
  std::vector<View> views;
  std::vector<View> stack{{&root, nullptr}};
  while (!stack.empty()) {
    const View current = stack.back();
    stack.pop_back();
    const json& node = *current.node;
    if (!node.is_object()) continue;
    const std::string type = stringMember(node, "type");
    const bool container = type == "con" || type == "floating_con";
    if (container && !hasChildren(node, "nodes") && !hasChildren(node, "floating_nodes")) {
      views.push_back(current);
      continue;
    }
    // Pushed in reverse so they come off in tree order: tiled, then floating.
    const json* floating = jsonMember(node, "floating_nodes");
    if (floating && floating->is_array())
      for (auto it = floating->rbegin(); it != floating->rend(); ++it)
        stack.push_back({&*it, &node});
    const json* tiled = jsonMember(node, "nodes");
    if (tiled && tiled->is_array())
      for (auto it = tiled->rbegin(); it != tiled->rend(); ++it)
        stack.push_back({&*it, current.floatingOwner});
  }
  return views;
}

WindowListEntry entryOf(const json& node) {
  WindowListEntry entry;
  if (auto pid = pidOf(node)) entry.ownerPID = PlatformValue{static_cast<std::int64_t>(*pid)};
  entry.isOnscreen = PlatformValue{true};
  if (auto rect = rectOf(node)) entry.bounds = PlatformValue{*rect};
  return entry;
}

std::string classOf(const json& node) {
  if (auto appId = displayableText(stringMember(node, "app_id"))) return *appId;
  if (const json* props = jsonMember(node, "window_properties"))
    if (auto cls = displayableText(stringMember(*props, "class"))) return *cls;
  return {};
}

}  // namespace

std::optional<SwayWindows> swayWindowsFromTree(std::string_view text) {
  auto tree = parseCompositorJson(text);
  if (!tree || !tree->is_object() || stringMember(*tree, "type") != "root") return std::nullopt;

  SwayWindows result;
  std::vector<const json*> focused, fullscreen, tiled;
  // Floating windows are grouped per workspace, where the last raised comes
  // last; each group is turned around so the top one comes first.
  std::vector<std::pair<const json*, std::vector<const json*>>> floating;
  for (const View& view : viewsOf(*tree)) {
    const json& node = *view.node;
    if (auto pid = pidOf(node)) result.owners.emplace(*pid, classOf(node));
    if (!trueMember(node, "visible")) continue;
    const json* fm = jsonMember(node, "fullscreen_mode");
    const bool isFullscreen = fm && fm->is_number_integer() && fm->get<std::int64_t>() != 0;
    if (trueMember(node, "focused")) {
      focused.push_back(&node);
    } else if (isFullscreen) {
      fullscreen.push_back(&node);
    } else if (view.floatingOwner) {
      if (floating.empty() || floating.back().first != view.floatingOwner) floating.push_back({view.floatingOwner, {}});
      floating.back().second.push_back(&node);
    } else {
      tiled.push_back(&node);
    }
  }
  for (const json* node : focused)
    result.onScreen.push_back(entryOf(*node));
  for (const json* node : fullscreen)
    result.onScreen.push_back(entryOf(*node));
  for (auto& [owner, group] : floating)
    for (auto it = group.rbegin(); it != group.rend(); ++it)
      result.onScreen.push_back(entryOf(**it));
  for (const json* node : tiled)
    result.onScreen.push_back(entryOf(*node));
  return result;
}

bool swayEventMayMoveWindows(std::uint32_t type, std::string_view payload) {
  if (type != kSwayWindowEvent && type != kSwayWorkspaceEvent && type != kSwayOutputEvent) return false;
  if (type == kSwayOutputEvent) return true;
  auto event = parseCompositorJson(payload);
  if (!event) return true;
  const std::string change = stringMember(*event, "change");
  if (type == kSwayWindowEvent) return change != "title" && change != "mark" && change != "urgent";
  return change != "rename" && change != "urgent";
}

std::optional<std::string> swayVersion(std::string_view text) {
  auto reply = parseCompositorJson(text);
  if (!reply) return std::nullopt;
  return displayableText(stringMember(*reply, "human_readable"), 64);
}

}  // namespace velmora::linuxos
