#include "platform/KeyFile.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace velmora {
namespace {

TEST(KeyFile, ValuesComeFromTheirGroupWithStringEscapesUndone) {
  const std::string entry =
      "# comment\n"
      "Name=Outside any group\n"
      "[Desktop Entry]\r\n"
      "Name[de]=Spieler\n"
      "  Name = Media\\sPlayer\\s \n"
      "Name=second one\n"
      "Comment=tab\\there\\nnew line\\rreturn\n"
      "Path=C:\\\\dir\\\\\n"
      "Icon=\\q stays\\\n"
      "Lead=\\s\\sindented\n"
      "Empty=   \n"
      "Broken line without equals\n"
      "[Desktop Action new]\n"
      "Exec=other\n";
  struct Case {
    const char* group;
    const char* key;
    std::optional<std::string> value;
  };
  const Case cases[] = {
      {"Desktop Entry", "Name", "Media Player "},  // trimmed first, so \s keeps its space; the first one counts
      {"Desktop Entry", "Comment", "tab\there\nnew line\rreturn"},
      {"Desktop Entry", "Path", "C:\\dir\\"},
      {"Desktop Entry", "Icon", "\\q stays\\"},  // unknown escapes and a final backslash stay
      {"Desktop Entry", "Lead", "  indented"},
      {"Desktop Entry", "Empty", std::nullopt},
      {"Desktop Entry", "Exec", std::nullopt},  // only in another group
      {"Desktop Action new", "Exec", "other"},
      {"Desktop Entry", "Name[de]", "Spieler"},
      {"Desktop", "Name", std::nullopt},
      {"Desktop Entry", "Broken line without equals", std::nullopt},
  };
  for (const Case& c : cases)
    EXPECT_EQ(keyFileValue(entry, c.group, c.key), c.value) << c.group << " / " << c.key;

  EXPECT_EQ(keyFileValue("[Application]\nname=org.videolan.VLC", "Application", "name"), "org.videolan.VLC")
      << "no final newline";
  EXPECT_FALSE(keyFileValue("", "Desktop Entry", "Name"));
  EXPECT_FALSE(keyFileValue("[Desktop Entry", "Desktop Entry", "Name"));
}

}  // namespace
}  // namespace velmora
