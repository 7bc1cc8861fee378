#pragma once

// Reading the parts of a scenario file: a checked reader for one JSON object,
// and the objects that appear both at the top level and in events. Only the
// scenario reader uses this.

#include <cmath>
#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/Applications.h"
#include "platform/Screens.h"
#include "platform/sim/ScenarioPositions.h"
#include "platform/sim/SimAudio.h"
#include "platform/sim/SimWindows.h"

namespace velmora::sim::scenario {

using json = nlohmann::json;

// A rule broken at a place in the document; turned into a line and column.
struct Invalid {
  std::string pointer;
  std::string message;
};

inline std::string inQuotes(const std::string& s) {
  return "\"" + s + "\"";
}

inline std::string child(const std::string& pointer, const std::string& key) {
  return pointer + "/" + JsonPositions::escape(key);
}
inline std::string child(const std::string& pointer, std::size_t index) {
  return pointer + "/" + std::to_string(index);
}

class Reader {
 public:
  Reader(const json& object, std::string pointer, std::string what)
      : object_(object), pointer_(std::move(pointer)), what_(std::move(what)) {
    if (!object_.is_object()) throw Invalid{pointer_, what_ + " must be an object"};
  }

  void allowOnly(std::initializer_list<const char*> keys) const {
    for (auto it = object_.begin(); it != object_.end(); ++it) {
      bool known = false;
      for (const char* k : keys)
        known = known || it.key() == k;
      if (!known) throw Invalid{child(pointer_, it.key()), "unknown key " + inQuotes(it.key()) + " in " + what_};
    }
  }

  bool has(const char* key) const { return object_.contains(key); }
  const json& at(const char* key) const {
    if (!object_.contains(key)) throw Invalid{pointer_, what_ + " needs " + inQuotes(key)};
    return object_.at(key);
  }
  std::string where(const char* key) const { return child(pointer_, key); }
  const std::string& pointer() const { return pointer_; }

  double number(const char* key) const {
    const json& v = at(key);
    if (!v.is_number() || !std::isfinite(v.get<double>()))
      throw Invalid{where(key), inQuotes(key) + " must be a number"};
    return v.get<double>();
  }

  std::int64_t integer(const char* key, std::int64_t lo, std::int64_t hi, const char* what) const {
    const json& v = at(key);
    if (v.is_number_unsigned() && v.get<std::uint64_t>() <= static_cast<std::uint64_t>(hi)) {
      auto n = static_cast<std::int64_t>(v.get<std::uint64_t>());
      if (n >= lo) return n;
    } else if (v.is_number_integer() && !v.is_number_unsigned()) {
      auto n = v.get<std::int64_t>();
      if (n >= lo && n <= hi) return n;
    }
    throw Invalid{where(key), inQuotes(key) + " must be " + what};
  }

  Pid pid(const char* key) const {
    return static_cast<Pid>(integer(key, std::numeric_limits<Pid>::min(), std::numeric_limits<Pid>::max(),
                                    "a process id (a signed 32-bit integer)"));
  }
  std::uint32_t objectID(const char* key) const {
    return static_cast<std::uint32_t>(integer(key, 0, 0xFFFFFFFFll, "an unsigned 32-bit integer"));
  }

  bool boolean(const char* key, bool fallback) const {
    if (!has(key)) return fallback;
    const json& v = object_.at(key);
    if (!v.is_boolean()) throw Invalid{where(key), inQuotes(key) + " must be true or false"};
    return v.get<bool>();
  }

  std::string text(const char* key) const {
    const json& v = at(key);
    if (!v.is_string()) throw Invalid{where(key), inQuotes(key) + " must be text"};
    return v.get<std::string>();
  }

  std::optional<std::string> optionalText(const char* key) const {
    if (!has(key) || object_.at(key).is_null()) return std::nullopt;
    return text(key);
  }

  Rect rect(const char* key) const {
    const json& v = at(key);
    if (!v.is_array() || v.size() != 4)
      throw Invalid{where(key), inQuotes(key) + " must be a list of four numbers [x, y, width, height]"};
    double f[4];
    for (std::size_t i = 0; i < 4; ++i) {
      if (!v[i].is_number() || !std::isfinite(v[i].get<double>()))
        throw Invalid{child(where(key), i), inQuotes(key) + " must be a list of four numbers [x, y, width, height]"};
      f[i] = v[i].get<double>();
    }
    return Rect{f[0], f[1], f[2], f[3]};
  }

  const json& list(const char* key) const {
    const json& v = at(key);
    if (!v.is_array()) throw Invalid{where(key), inQuotes(key) + " must be a list"};
    return v;
  }

 private:
  const json& object_;
  std::string pointer_;
  std::string what_;
};

std::vector<PlatformScreen> readDisplays(const json& list, const std::string& pointer);
SimAudio::Device readDevice(const json& value, const std::string& pointer);
SimAudio::Stream readStream(const json& value, const std::string& pointer);
RunningApplication readApp(const json& value, const std::string& pointer);
SimWindow readWindow(const json& value, const std::string& pointer);

}  // namespace velmora::sim::scenario
