// Where a first run puts the output folder: beside the program when that can be written (a
// build tree, a user's own copy), else the user's music folder (an installed copy).
#include <sys/stat.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "support/test_env.h"

namespace {

struct DefaultFolderCase {
  const char* name;
  const char* programFolder;  // "@/" stands for a fresh writable folder
  bool myMusicIsFile;         // a file named "My Music" stands in the way
  const char* userDirs;       // user-dirs.dirs; null: none
  const char* expected;       // "@/" as above, "~/" the home folder
};

TEST(Install, DefaultOutputFolder) {
  const DefaultFolderCase cases[] = {
      {"writable", "@/", false, nullptr, "@/My Music/"},
      {"blocked", "@/", true, nullptr, "~/Music/"},
      {"installed", "/proc/self/", false, nullptr, "~/Music/"},
      {"xdg", "/proc/self/", false, "# made by xdg\nXDG_MUSIC_DIR=\"$HOME/Tunes\"\n", "~/Tunes/"},
      {"absolute", "/proc/self/", false, "XDG_MUSIC_DIR=\"/srv/my \\\"music\\\"/\"",
       "/srv/my \"music\"/"},
      {"relative", "/proc/self/", false, "XDG_MUSIC_DIR=\"Songs\"\n", "~/Music/"},
  };
  const char* savedHome = std::getenv("HOME");
  const std::string restore = savedHome ? savedHome : "";
  for (const DefaultFolderCase& c : cases) {
    ScopedConfigHome config;
    TempDir home, program;
    setenv("HOME", home.path().c_str(), 1);
    if (c.userDirs) WriteFile(config.path() + "/user-dirs.dirs", c.userDirs);
    if (c.myMusicIsFile) WriteFile(program / "My Music", "");
    auto expand = [&](std::string s) {
      if (s.rfind("@/", 0) == 0) return program.path() + s.substr(1);
      if (s.rfind("~/", 0) == 0) return home.path() + s.substr(1);
      return s;
    };
    EXPECT_EQ(DefaultOutputFolder(expand(c.programFolder)), expand(c.expected)) << c.name;
    struct stat st;
    EXPECT_EQ(stat((program / "My Music").c_str(), &st) == 0, c.myMusicIsFile)
        << c.name << ": asking must not leave a folder behind";
  }
  setenv("HOME", restore.c_str(), 1);
}

}  // namespace
