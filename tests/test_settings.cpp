// SPDX-License-Identifier: GPL-3.0-or-later
// Copyright 2026 The Obrin developers
// The settings store over Obrin.ini. Faults guarded here:
// - a first run writes every key with its default text (vbrmax 192 kbps, the "My Music/"
//   folder); a later load leaves a complete file alone;
// - Ogg modes: CBR before BBR before VBR (BBR yields to CBR); flags are "TRUE" exactly;
// - an unknown text keeps the default until a save; an empty one is written back;
// - [Drive] ReadOffset outside -3000..3000 or not a whole number taken, or refused without
//   naming the key;
// - every table entry survives a save and a load, with the file's texts (preset row 17 is
//   "Voice new" in the file, "Voice (new)" on the page);
// - [Output] Path is taken as stored and read afresh; a CR in it drops the whole save; the
//   file's place follows XDG_CONFIG_HOME only when that is absolute.
// - a first run's folder: "My Music" beside a program folder that cannot take it, or without
//   its separator; the probe left behind; $HOME or a relative XDG_MUSIC_DIR taken as written.
#include "config/settings.h"

#include <sys/stat.h>

#include <bit>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "support/test_env.h"

namespace {

using Words = std::array<int32_t, 24>;

class SettingsTest : public ::testing::Test {
 protected:
  RipSettings Loaded() {  // as start-up makes it: defaults, then the file
    RipSettings s;
    LoadDefaultSettings(s);
    LoadSettings(s);
    return s;
  }
  void Set(const char* section, const char* key, const std::string& value) {
    ASSERT_TRUE(WriteProfileString(section, key, value, home.iniPath()));
  }
  std::string Get(const char* section, const char* key) {
    return GetProfileString(section, key, "<missing>", home.iniPath());
  }
  ScopedConfigHome home;
};

TEST_F(SettingsTest, FirstRunWritesEveryDefaultAndLaterLoadsLeaveTheFile) {
  const RipSettings s = Loaded();
  EXPECT_EQ(ReadFile(home.iniPath()), FreshSettingsFile(GetProgramFolder() + "My Music/"));
  EXPECT_EQ(s.outputPath, GetProgramFolder() + "My Music/");
  EXPECT_EQ(std::bit_cast<Words>(s.formats), std::bit_cast<Words>(FormatSettings{}));
  struct stat first = {}, second = {};
  stat(home.iniPath().c_str(), &first);
  Loaded();
  stat(home.iniPath().c_str(), &second);
  EXPECT_EQ(first.st_ino, second.st_ino) << "a complete file must not be rewritten";
}

TEST_F(SettingsTest, OggModePrecedence) {
  // usecbr usebbr usevbr ("-": no such key), then the CBR, BBR and VBR flags loaded. Without
  // usevbr the VBR flag keeps its default beside CBR until a save.
  for (const char* row : {"TRUE TRUE TRUE 100", "FALSE FALSE FALSE 001", "FALSE TRUE TRUE 010",
                          "TRUE FALSE FALSE 100", "true TRUE x 010", "- TRUE FALSE 010",
                          "FALSE - FALSE 001", "TRUE junk - 101"}) {
    std::remove(home.iniPath().c_str());
    std::istringstream words(row);
    std::string value, expected;
    for (const char* key : {"usecbr", "usebbr", "usevbr"}) {
      if (words >> value && value != "-") Set("OGG Setting", key, value);
    }
    words >> expected;
    const OggSettings ogg = Loaded().formats.ogg;
    EXPECT_EQ(std::to_string(ogg.useCbr) + std::to_string(ogg.useBbr) + std::to_string(ogg.useVbr),
              expected)
        << row;
  }
}

TEST_F(SettingsTest, UnknownTextsKeepTheDefaultUntilSavedAndEmptyOnesAreWrittenBack) {
  Loaded();
  WriteFile(home.iniPath(),  // values are matched exactly; blanks are the profile's to trim
            "[MP3 Setting]\nchannels=stereo\nvbr=true\nvbrquality=10\nbitrate=\n"
            "mpegquality=Voice (new)\n[OGG Setting]\nvbr=21\nchannels= 5.1 \n"
            "[FLAC Setting]\nlevel=9\n[OPUS Setting]\nbitrate=513 kbps\nmode=vbr\ncomplexity=11\n");
  RipSettings s = Loaded();
  const Mp3Settings& mp3 = s.formats.mp3;
  const OpusSettings& opus = s.formats.opus;
  EXPECT_EQ((std::array{mp3.channels, mp3.vbrEnabled, mp3.vbrQuality, mp3.bitrate, mp3.preset,
                        s.formats.ogg.vbrQuality, s.formats.ogg.channels, s.formats.flac.level,
                        opus.bitrate, opus.mode, opus.complexity}),
            (std::array{1, 0, 2, 8, 5, 9, 2, 5, 128, 0, 10}));
  EXPECT_EQ(Get("MP3 Setting", "channels"), "stereo") << "loading must not rewrite it";
  EXPECT_EQ(Get("MP3 Setting", "bitrate"), "128 kbps") << "an empty value is filled in";
  SaveSettings(s);
  EXPECT_EQ(Get("MP3 Setting", "channels"), "Stereo");
  EXPECT_EQ(Get("OGG Setting", "vbr") + Get("FLAC Setting", "level"), "95");
  EXPECT_EQ(Get("OPUS Setting", "bitrate") + "|" + Get("OPUS Setting", "mode") + "|" +
                Get("OPUS Setting", "complexity"),
            "160 kbps|VBR|10");
}

TEST_F(SettingsTest, ReadOffsetIsAWholeNumberWithinThreeThousandSamples) {
  const struct {
    const char* text;
    int32_t loaded;
    bool refused;
  } rows[] = {{"-667", -667, false},   {"+667", 667, false}, {"3000", 3000, false},
              {"-3000", -3000, false}, {"3001", 0, true},    {"-3001", 0, true},
              {"6.5", 0, true},        {"12x", 0, true},     {"-", 0, true},
              {"99999999999", 0, true}};
  for (const auto& row : rows) {
    Set("Drive", "ReadOffset", row.text);
    const RipSettings s = Loaded();
    EXPECT_EQ(s.readOffset, row.loaded) << row.text;
    EXPECT_EQ(s.settingsProblems,
              row.refused
                  ? std::vector<std::string>{"Obrin.ini: [Drive] ReadOffset must be a whole "
                                             "number from -3000 to 3000, not \"" +
                                             std::string(row.text) + "\"; 0 is used"}
                  : std::vector<std::string>{})
        << row.text;
    EXPECT_EQ(Get("Drive", "ReadOffset"), row.text) << "loading must not rewrite it";
  }
  RipSettings saved = Loaded();
  saved.readOffset = -48;
  SaveSettings(saved);
  EXPECT_EQ(Get("Drive", "ReadOffset"), "-48");
}

TEST_F(SettingsTest, EveryTableEntrySurvivesSaveAndLoadWithTheFileTexts) {
  // Table sizes word by word through the block (wav, ogg, mp3, flac, opus); 0 marks the Ogg
  // mode flags.
  constexpr int32_t kCounts[24] = {4,  2, 2, 4,  3, 0,  0,  0,  5, 5,   5, 5,
                                   21, 4, 3, 14, 2, 10, 14, 23, 9, 481, 3, 11};
  for (int32_t round = 0; round < 23; ++round) {  // round i puts each member on entry i
    Words words{};
    for (int i = 0; i < 24; ++i) words[i] = kCounts[i] ? round % kCounts[i] : 0;
    words[5 + round % 3] = 1;  // exactly one Ogg mode, as the page keeps it
    RipSettings saved;
    saved.formats = std::bit_cast<FormatSettings>(words);
    saved.outputPath = "/music/round " + std::to_string(round);
    SaveSettings(saved);
    const RipSettings loaded = Loaded();
    EXPECT_EQ(std::bit_cast<Words>(loaded.formats), words) << "round " << round;
    EXPECT_EQ(loaded.outputPath, saved.outputPath);
    EXPECT_TRUE(round != 17 || Get("MP3 Setting", "mpegquality") == "Voice new");
    EXPECT_TRUE(round != 13 || Get("MP3 Setting", "bitrate") == "320 kbps");
    EXPECT_TRUE(round != 2 || Get("MP3 Setting", "channels") == "Joint stereo");
    EXPECT_TRUE(round != 4 || Get("OGG Setting", "cbr") == "350 kbps");
    EXPECT_TRUE(round != 0 || Get("WAV Setting", "samplebits") == "8 bits");
    EXPECT_TRUE(round != 8 || Get("FLAC Setting", "level") == "8");
    EXPECT_TRUE(round != 22 || (Get("OPUS Setting", "bitrate") == "54 kbps" &&
                                Get("OPUS Setting", "mode") == "Constrained VBR"));
  }
}

TEST_F(SettingsTest, OutputFolderAndTheFilesPlace) {
  EXPECT_EQ(ReadOutputFolderFromFile(), "");  // no file yet, and none made
  EXPECT_FALSE(FileExists(home.iniPath()));
  Loaded();
  Set("Output", "Path", "relative/folder");
  EXPECT_EQ(Loaded().outputPath, "relative/folder");
  Set("Output", "Path", "/data/rips");  // a hand edit shows without a reload
  EXPECT_EQ(ReadOutputFolderFromFile(), "/data/rips");
  WriteFile(home.iniPath(), "[Output]\nPath=/a\rb/\n");  // a CR (found by fuzzing): the save
  RipSettings s = Loaded();                              // still writes every other key
  s.formats.mp3.bitrate = 2;
  SaveSettings(s);
  EXPECT_EQ(Get("MP3 Setting", "bitrate") + Get("Output", "Path"), "48 kbps/a\rb/");

  setenv("XDG_CONFIG_HOME", (home.path() + "//").c_str(), 1);
  EXPECT_EQ(SettingsFilePath(), home.path() + "/obrin/Obrin.ini");
  const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
  setenv("HOME", "/home/someone", 1);
  for (const char* ignored : {"", "relative/config"}) {
    setenv("XDG_CONFIG_HOME", ignored, 1);
    EXPECT_EQ(SettingsFilePath(), "/home/someone/.config/obrin/Obrin.ini") << ignored;
  }
  setenv("HOME", savedHome.c_str(), 1);  // ScopedConfigHome puts XDG_CONFIG_HOME back
}

TEST(SettingsDefaults, OutputFolderOfAFirstRun) {
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

}  // namespace
