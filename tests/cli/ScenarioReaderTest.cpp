#include <gtest/gtest.h>

#include "platform/sim/Scenario.h"

using velmora::sim::parseScenario;

namespace {

struct Refusal {
  const char* text;
  std::size_t line;
  std::size_t column;
  const char* message;
};

TEST(ScenarioReader, RefusesBrokenScenariosWithThePlaceOfTheFault) {
  const Refusal cases[] = {
      {"{\n  \"until\": 5,\n", 3, 1, "not valid JSON"},
      // A number too large for a double is refused like any other bad JSON.
      {"{\"until\": 1,\n \"displays\": [1e999]}", 2, 15, "not valid JSON: number out of range"},
      {"222222222222E22222222", 1, 1, "not valid JSON: number out of range"},
      {"{\"until\": 5, \"colour\": 1}", 1, 14, "unknown key \"colour\" in the scenario"},
      {"{\"displays\": []}", 1, 1, "the scenario needs \"until\""},
      {"{\"until\": \"soon\"}", 1, 2, "\"until\" must be a number"},
      {"{\"until\": 1,\n \"devices\": [{\"id\": 1, \"name\": \"X\"}]}", 2, 14, "id 1 is reserved"},
      {"{\"until\": 1, \"devices\": [{\"id\": 5}], \"streams\": [{\"id\": 5}]}", 1, 50, "duplicate id 5"},
      {"{\"until\": 1, \"devices\": [{\"id\": 4294967296}]}", 1, 27, "\"id\" must be an unsigned 32-bit integer"},
      {"{\"until\": 1, \"devices\": [{\"id\": 5, \"transport\": \"usb\"}]}", 1, 36,
       "\"transport\" must be four printable ASCII characters"},
      {"{\"until\": 1, \"defaultDevice\": 7}", 1, 14, "defaultDevice 7 is not a device"},
      {"{\"until\": 9, \"events\": [{\"at\": 2, \"do\": \"closeWindow\", \"window\": \"w\"}]}", 1, 56,
       "closeWindow names unknown window \"w\""},
      {"{\"until\": 9, \"windows\": [{\"id\": \"w\", \"pid\": 5, \"bounds\": [0,0,1,1]}],\n"
       " \"events\": [{\"at\": 2, \"do\": \"closeWindow\", \"window\": \"w\"},\n"
       "            {\"at\": 3, \"do\": \"raiseWindow\", \"window\": \"w\"}]}",
       3, 44, "raiseWindow names unknown window \"w\""},
      {"{\"until\": 9, \"events\": [{\"at\": 2, \"do\": \"fail\", \"operation\": \"setDefault\"}]}", 1, 49,
       "unknown operation \"setDefault\""},
      {"{\"until\": 9, \"devices\": [{\"id\": 5}], \"events\": [{\"at\": 3, \"do\": \"unplug\", \"device\": 5},\n"
       "  {\"at\": 2, \"do\": \"plug\", \"device\": {\"id\": 6}}]}",
       2, 4, "event at 2 comes before the previous one at 3 (events must be in time order)"},
      {"{\"until\": 1, \"windows\": [{\"id\": \"w\", \"pid\": 5, \"bounds\": [0, 0, 1]}]}", 1, 48,
       "\"bounds\" must be a list of four numbers [x, y, width, height]"},
      {"{\"until\": 1, \"until\": 2}", 1, 14, "duplicate key \"until\""},
      {"{\"until\": 1, \"streams\": [{\"id\": 5, \"device\": 7}]}", 1, 36, "stream names unknown device 7"},
      {"{\"until\": 1, \"devices\": [{\"id\": 7, \"outputs\": false}], \"streams\": [{\"id\": 5, \"device\": 7}]}", 1,
       78, "stream names device 7 without outputs"},
      {"{\"until\": 9, \"devices\": [{\"id\": 5}], \"events\": [{\"at\": 1, \"do\": \"moveStream\", \"stream\": 6, "
       "\"device\": 5}]}",
       1, 79, "moveStream names unknown stream 6"},
      {"[1, 2]", 1, 1, "the scenario must be an object"},
  };
  for (const auto& c : cases) {
    auto result = parseScenario(c.text);
    ASSERT_TRUE(result.error.has_value()) << c.text;
    EXPECT_FALSE(result.scenario.has_value());
    EXPECT_EQ(result.error->line, c.line) << c.text;
    EXPECT_EQ(result.error->column, c.column) << c.text;
    EXPECT_EQ(result.error->message.substr(0, std::string(c.message).size()), c.message) << c.text;
  }
}

TEST(ScenarioReader, ReadsEveryKindOfValueItModels) {
  auto result = parseScenario(R"j({
    "displays": [ {"name": "No number", "frame": [0, 0, 10, 10]},
                  {"id": 2.5, "name": "Fraction", "frame": [-1920, 0, 1920, 1080]},
                  {"id": "7", "name": "Text", "frame": [0, 0, 1, 1]} ],
    "devices": [ {"id": 73, "name": null, "outputs": false, "canBeDefault": false, "alive": false, "transport": "hdmi"},
                 {"id": 74} ],
    "defaultDevice": 73,
    "windows": [ {"id": "w", "pid": 5, "bounds": [1, 2, 3, 4], "onscreen": null} ],
    "streams": [ {"id": 900, "running": true, "device": 74, "movable": false} ],
    "events": [ {"at": 0.5, "do": "fail", "operation": "windowList", "count": -1},
                {"at": 1, "do": "renameDevice", "device": 73, "name": "Aster"},
                {"at": 2, "do": "moveStream", "stream": 900, "device": 74} ],
    "until": 2 })j");
  ASSERT_FALSE(result.error.has_value()) << result.error->message;
  const auto& s = *result.scenario;
  ASSERT_EQ(s.displays.size(), 3u);
  EXPECT_FALSE(s.displays[0].screenNumber.has_value());
  EXPECT_EQ(std::get<double>(*s.displays[1].screenNumber), 2.5);
  EXPECT_EQ(std::get<std::string>(*s.displays[2].screenNumber), "7");
  EXPECT_EQ(s.displays[1].frame.x, -1920);
  ASSERT_EQ(s.devices.size(), 2u);
  EXPECT_FALSE(s.devices[0].name.has_value());
  EXPECT_FALSE(s.devices[0].outputs);
  EXPECT_EQ(s.devices[0].transport, velmora::fourCharCode("hdmi"));
  EXPECT_FALSE(s.windows[0].onscreen.has_value());
  EXPECT_FALSE(s.streams[0].pid.has_value());
  EXPECT_EQ(s.streams[0].pin, std::optional<velmora::AudioDeviceID>(74));
  EXPECT_FALSE(s.streams[0].movable);
  EXPECT_EQ(s.events[2].kind, velmora::sim::ScenarioEvent::Kind::moveStream);
  EXPECT_EQ(s.events[0].count, -1);
  EXPECT_EQ(s.events[1].name, std::optional<std::string>("Aster"));
}

}  // namespace
