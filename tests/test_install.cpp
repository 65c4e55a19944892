// A first run's output folder. Faults guarded: "My Music" beside a program folder that cannot
// take it, or without its separator; the probe folder left behind; $HOME or a relative
// XDG_MUSIC_DIR taken as written; quotes in it not unescaped.
#include <cstdlib>
#include <filesystem>
#include <tuple>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/test_env.h"

TEST(Install, DefaultOutputFolder) {
  // program folder ("@": writable), a file "My Music" in it, user-dirs.dirs, result ("~": home)
  const std::tuple<const char*, bool, const char*, const char*> cases[] = {
      {"@/", false, "", "@/My Music/"},
      {"@/", true, "", "~/Music/"},
      {"/proc/self/", false, "", "~/Music/"},
      {"/proc/self/", false, "# by hand\nXDG_MUSIC_DIR=\"$HOME/Tunes\"\n", "~/Tunes/"},
      {"/proc/self/", false, "XDG_MUSIC_DIR=\"/srv/my \\\"music\\\"/\"", "/srv/my \"music\"/"},
      {"/proc/self/", false, "XDG_MUSIC_DIR=\"Songs\"\n", "~/Music/"},
  };
  const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  for (const auto& [programFolder, blocked, userDirs, expected] : cases) {
    ScopedConfigHome config;
    TempDir home, program;
    setenv("HOME", home.path().c_str(), 1);
    WriteFile(config.path() + "/user-dirs.dirs", userDirs);
    if (blocked) WriteFile(program / "My Music", "");
    auto expand = [&](std::string s) {
      if (s[0] == '@') return program.path() + s.substr(1);
      return s[0] == '~' ? home.path() + s.substr(1) : s;
    };
    EXPECT_EQ(DefaultOutputFolder(expand(programFolder)), expand(expected)) << userDirs;
    const auto left = std::distance(std::filesystem::directory_iterator(program.path()), {});
    EXPECT_EQ(left, blocked ? 1 : 0) << "asking must leave nothing behind";
  }
  setenv("HOME", savedHome.c_str(), 1);
}
