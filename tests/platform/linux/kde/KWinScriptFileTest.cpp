#include "platform/linux/kde/KWinScriptFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>

namespace velmora::linuxos {
namespace {

namespace fs = std::filesystem;

std::string contents(const fs::path& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A scratch folder standing for /run/user/UID and /tmp at once.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "velmora-script-test-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    fs::create_directory(runtime());
    fs::permissions(runtime(), fs::perms::owner_all, fs::perm_options::replace);
    fs::create_directory(temp());
  }
  ~Scratch() { fs::remove_all(root_); }
  fs::path runtime() const { return root_ / "run"; }
  fs::path temp() const { return root_ / "tmp"; }
  fs::path root() const { return root_; }

 private:
  fs::path root_;
};

TEST(KWinScriptFile, WritesOnlyIntoAPrivateFolderAndLeavesNothingBehind) {
  struct Case {
    const char* what;
    std::function<std::optional<std::string>(const Scratch&)> prepare;  // gives the runtime folder
    bool written;
    bool inRuntime;  // else in a folder of its own under the temporary folder
  };
  const std::vector<Case> cases = {
      {"the runtime folder", [](const Scratch& s) { return s.runtime().string(); }, true, true},
      {"no runtime folder: a folder for this run", [](const Scratch&) { return std::optional<std::string>(); }, true,
       false},
      {"a runtime folder others may enter is no private one",
       [](const Scratch& s) {
         fs::permissions(s.runtime(), fs::perms::others_exec | fs::perms::group_exec, fs::perm_options::add);
         return s.runtime().string();
       },
       true, false},
      {"its velmora folder a link elsewhere: refused, the target untouched",
       [](const Scratch& s) {
         fs::create_directory(s.root() / "elsewhere");
         fs::create_directory_symlink(s.root() / "elsewhere", s.runtime() / "velmora");
         return s.runtime().string();
       },
       false, true},
      {"a link where the script goes is replaced, not written through",
       [](const Scratch& s) {
         fs::create_directory(s.runtime() / "velmora", s.runtime());
         std::ofstream(s.root() / "victim") << "keep";
         fs::create_symlink(s.root() / "victim", s.runtime() / "velmora" / "script.js");
         return s.runtime().string();
       },
       true, true},
  };
  for (const Case& c : cases) {
    Scratch scratch;
    const auto runtime = c.prepare(scratch);
    std::string why;
    auto file = KWinScriptFile::write(runtime, scratch.temp(), "script.js", "reportTo(':1.42')", &why);
    ASSERT_EQ(file != nullptr, c.written) << c.what << ": " << why;
    EXPECT_EQ(fs::is_regular_file(scratch.root() / "victim") ? contents(scratch.root() / "victim") : "keep", "keep")
        << c.what;
    if (!file) {
      EXPECT_TRUE(fs::is_empty(scratch.root() / "elsewhere")) << c.what;
      continue;
    }
    const fs::path folder = file->path().parent_path();
    EXPECT_EQ(folder.parent_path(), c.inRuntime ? scratch.runtime() : scratch.temp()) << c.what;
    EXPECT_EQ(contents(file->path()), "reportTo(':1.42')") << c.what;
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all) << c.what;
    EXPECT_EQ(fs::symlink_status(file->path()).permissions(), fs::perms::owner_read | fs::perms::owner_write) << c.what;
    file.reset();
    EXPECT_FALSE(fs::exists(folder / "script.js")) << c.what;
    EXPECT_EQ(fs::exists(folder), c.inRuntime) << c.what << ": a folder made for the run goes with it";
  }
}

}  // namespace
}  // namespace velmora::linuxos
