#include "config/settings.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "support/test_env.h"

namespace {

// Sets (or, for nullptr, removes) an environment variable for the object's life.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    value ? setenv(name, value, 1) : unsetenv(name);
  }
  ~ScopedEnv() { saved_ ? setenv(name_.c_str(), saved_->c_str(), 1) : unsetenv(name_.c_str()); }

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

std::array<int32_t, 20> Words(const FormatSettings& f) {
  std::array<int32_t, 20> words;
  std::memcpy(words.data(), &f, sizeof f);
  return words;
}

class SettingsTest : public ::testing::Test {
 protected:
  // A record as start-up makes it: defaults, then the file.
  RipSettings Loaded() {
    RipSettings s;
    LoadDefaultSettings(s);
    LoadSettings(s);
    return s;
  }
  void Set(const char* section, const char* key, const std::string& value) {
    ASSERT_TRUE(WriteProfileString(section, key, value, ini()));
  }
  std::string Get(const char* section, const char* key) {
    return GetProfileString(section, key, "<missing>", ini());
  }
  std::string ini() const { return home.iniPath(); }

  ScopedConfigHome home;
};

TEST_F(SettingsTest, DefaultsFillTheWholeRecord) {
  RipSettings s;
  s.outputFormat = Wav;
  s.fileNameTemplate = "x";
  s.formats.mp3.preset = 0;
  s.discGenre = 3;
  s.tracks.resize(3);
  s.currentTrack = 2;
  LoadDefaultSettings(s);
  EXPECT_EQ(s.outputFormat, Mp3);
  EXPECT_EQ(s.fileNameTemplate, "$a-$t");
  EXPECT_EQ(Words(s.formats), Words(FormatSettings{}));
  EXPECT_EQ(s.discGenre, 12);
  EXPECT_TRUE(s.tracks.empty());
  EXPECT_EQ(s.currentTrack, -1);
  EXPECT_FALSE(FileExists(ini())) << "defaults alone must not touch the file";
}

TEST_F(SettingsTest, FirstRunWritesTheCompleteFileAndLaterLoadsLeaveIt) {
  const std::string fresh = FreshSettingsFile(GetProgramFolder() + "My Music/");
  RipSettings s = Loaded();
  EXPECT_EQ(ReadFile(ini()), fresh);
  EXPECT_EQ(Words(s.formats), Words(FormatSettings{}));
  EXPECT_EQ(s.outputPath, GetProgramFolder() + "My Music/");
  struct stat before {
  }, after{};
  ASSERT_EQ(stat(ini().c_str(), &before), 0);
  Loaded();
  ASSERT_EQ(stat(ini().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino) << "a complete file must not be rewritten";
  EXPECT_EQ(ReadFile(ini()), fresh);
}

TEST_F(SettingsTest, OggModePrecedence) {
  const struct {
    const char *usecbr, *usebbr, *usevbr;  // nullptr: key absent
    int cbr, bbr, vbr;
  } cases[] = {
      {"TRUE", "TRUE", "TRUE", 1, 0, 0},   {"FALSE", "FALSE", "FALSE", 0, 0, 1},
      {"FALSE", "TRUE", "TRUE", 0, 1, 0},  {"FALSE", "TRUE", "FALSE", 0, 1, 0},
      {"TRUE", "FALSE", "FALSE", 1, 0, 0}, {"true", "TRUE", "x", 0, 1, 0},
      {nullptr, "TRUE", "FALSE", 0, 1, 0}, {"FALSE", nullptr, "FALSE", 0, 0, 1},
  };
  for (const auto& c : cases) {
    std::remove(ini().c_str());
    if (c.usecbr) Set("OGG Setting", "usecbr", c.usecbr);
    if (c.usebbr) Set("OGG Setting", "usebbr", c.usebbr);
    Set("OGG Setting", "usevbr", c.usevbr);
    const OggSettings ogg = Loaded().formats.ogg;
    SCOPED_TRACE(std::string(c.usecbr ? c.usecbr : "-") + "/" + (c.usebbr ? c.usebbr : "-") + "/" +
                 c.usevbr);
    EXPECT_EQ((std::array{ogg.useCbr, ogg.useBbr, ogg.useVbr}), (std::array{c.cbr, c.bbr, c.vbr}));
  }
}

TEST_F(SettingsTest, UnknownTextsKeepTheDefaultUntilSavedAndEmptyOnesAreWrittenBack) {
  Loaded();
  Set("MP3 Setting", "channels", "stereo");  // values are matched exactly
  Set("MP3 Setting", "vbr", "true");
  Set("MP3 Setting", "vbrquality", "10");  // just outside the tables
  Set("OGG Setting", "vbr", "21");
  Set("MP3 Setting", "bitrate", "");
  Set("MP3 Setting", "vbrmax", "320 kbps");
  Set("WAV Setting", "samplerate", "44100");
  Set("OGG Setting", "channels", " 5.1 ");  // blanks are the profile's to trim
  RipSettings s = Loaded();
  const Mp3Settings& mp3 = s.formats.mp3;
  EXPECT_EQ((std::array{mp3.channels, mp3.vbrEnabled, mp3.vbrQuality, mp3.bitrate}),
            (std::array{1, 0, 2, 8}));
  EXPECT_EQ(mp3.vbrMaxBitrate, 13);
  EXPECT_EQ(s.formats.ogg.vbrQuality, 9);
  EXPECT_EQ(s.formats.wav.sampleRate, 0);
  EXPECT_EQ(s.formats.ogg.channels, 2);
  EXPECT_EQ(Get("MP3 Setting", "channels"), "stereo") << "loading must not rewrite it";
  EXPECT_EQ(Get("MP3 Setting", "bitrate"), "128 kbps") << "an empty value is filled in";

  SaveSettings(s);
  EXPECT_EQ(Get("MP3 Setting", "channels"), "Stereo");
  EXPECT_EQ(Get("MP3 Setting", "vbr"), "FALSE");
  EXPECT_EQ(Get("MP3 Setting", "vbrquality"), "2");
  EXPECT_EQ(Get("OGG Setting", "vbr"), "9");
}

// One member of the format block with the number of texts it can take.
struct TableMember {
  const char* name;
  int32_t& (*member)(FormatSettings&);
  int32_t count;
};

#define M(path) #path, [](FormatSettings & f) -> int32_t& { return f.path; }
const TableMember kTableMembers[] = {
    {M(wav.sampleRate), 4}, {M(wav.bitsPerSample), 2},  {M(wav.channels), 2},
    {M(mp3.sampleRate), 4}, {M(mp3.channels), 3},       {M(mp3.bitrate), 14},
    {M(mp3.preset), 23},    {M(mp3.vbrMaxBitrate), 14}, {M(mp3.vbrQuality), 10},
    {M(mp3.vbrEnabled), 2}, {M(ogg.sampleRate), 4},     {M(ogg.channels), 3},
    {M(ogg.cbrBitrate), 5}, {M(ogg.bbrNominal), 5},     {M(ogg.bbrMin), 5},
    {M(ogg.bbrMax), 5},     {M(ogg.vbrQuality), 21},
};
#undef M

TEST_F(SettingsTest, EveryTableEntrySurvivesSaveAndLoad) {
  Loaded();
  // Round i puts every member on entry i of its table (wrapping), so 23 rounds cover all.
  for (int32_t round = 0; round < 23; ++round) {
    RipSettings saved;
    LoadDefaultSettings(saved);
    for (const TableMember& m : kTableMembers) m.member(saved.formats) = round % m.count;
    OggSettings& ogg = saved.formats.ogg;  // exactly one mode, as the Ogg page keeps it
    ogg.useCbr = round % 3 == 0;
    ogg.useBbr = round % 3 == 1;
    ogg.useVbr = round % 3 == 2;
    saved.outputPath = "/music/round " + std::to_string(round);
    SaveSettings(saved);

    RipSettings loaded = Loaded();
    for (const TableMember& m : kTableMembers) {
      EXPECT_EQ(m.member(loaded.formats), round % m.count) << m.name << " round " << round;
    }
    EXPECT_EQ(Words(loaded.formats), Words(saved.formats)) << "round " << round;
    EXPECT_EQ(loaded.outputPath, saved.outputPath);
  }
}

TEST_F(SettingsTest, SavedTextsAreTheFileTexts) {
  RipSettings s = Loaded();
  s.formats.mp3.preset = 17;
  s.formats.mp3.bitrate = 13;
  s.formats.ogg.cbrBitrate = 4;
  s.formats.wav.sampleRate = 2;
  s.formats.wav.bitsPerSample = 0;
  s.formats.mp3.channels = 2;
  s.formats.ogg.vbrQuality = 20;
  SaveSettings(s);
  EXPECT_EQ(Get("MP3 Setting", "mpegquality"), "Voice new");
  EXPECT_EQ(Get("MP3 Setting", "bitrate"), "320 kbps");
  EXPECT_EQ(Get("OGG Setting", "cbr"), "350 kbps");
  EXPECT_EQ(Get("WAV Setting", "samplerate"), "44100 Hz");
  EXPECT_EQ(Get("WAV Setting", "samplebits"), "8 bits");
  EXPECT_EQ(Get("MP3 Setting", "channels"), "Joint stereo");
  EXPECT_EQ(Get("OGG Setting", "vbr"), "20");
  Set("MP3 Setting", "mpegquality", "Voice (new)");  // the combo text is not a file text
  EXPECT_EQ(Loaded().formats.mp3.preset, 5);
}

TEST_F(SettingsTest, OutputPathIsTakenAsStored) {
  EXPECT_EQ(ReadOutputFolderFromFile(), "");  // no file yet, and none made
  EXPECT_FALSE(FileExists(ini()));
  Loaded();
  Set("Output", "Path", "/data/rips");
  RipSettings s = Loaded();
  EXPECT_EQ(s.outputPath, "/data/rips");
  SaveSettings(s);
  EXPECT_EQ(Get("Output", "Path"), "/data/rips");
  // The file is the live source: a hand edit shows at once, without a reload.
  Set("Output", "Path", "relative/folder");
  EXPECT_EQ(ReadOutputFolderFromFile(), "relative/folder");
}

TEST_F(SettingsTest, SettingsFileLocation) {
  EXPECT_EQ(SettingsFilePath(), home.path() + "/obrin/Obrin.ini");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", (home.path() + "/").c_str());
    EXPECT_EQ(SettingsFilePath(), home.path() + "/obrin/Obrin.ini");
  }
  ScopedEnv homeVar("HOME", "/home/someone");
  for (const char* ignored : {"", "relative/config", static_cast<const char*>(nullptr)}) {
    ScopedEnv xdg("XDG_CONFIG_HOME", ignored);
    EXPECT_EQ(SettingsFilePath(), "/home/someone/.config/obrin/Obrin.ini") << ignored;
  }
  ScopedEnv noXdg("XDG_CONFIG_HOME", nullptr);
  ScopedEnv noHome("HOME", nullptr);
  std::string path = SettingsFilePath();
  EXPECT_EQ(path.substr(0, 1), "/");
  EXPECT_NE(path.find("/.config/obrin/Obrin.ini"), std::string::npos) << path;
}

TEST(SettingsValues, OggSliderLabels) {
  for (int32_t p = 0; p <= 20; ++p) {
    char text[32], expected[32];
    std::snprintf(text, sizeof text, "%.02f (%d kbps)", OggQualityValue(p), OggNominalKbps(p));
    std::snprintf(expected, sizeof expected, "%d.%02d (%u kbps)", p / 20, p % 20 * 5,
                  OggNominalKbpsTable[p]);
    EXPECT_STREQ(text, expected);
    EXPECT_TRUE(p != 9 || std::string(text) == "0.45 (141 kbps)") << text;
  }
  // The single-precision step shows through: not the double 0.45, and just over 1 at the top.
  EXPECT_EQ(OggQualityValue(1), static_cast<double>(0.05f));
  EXPECT_GT(OggQualityValue(20), 1.0 + 1e-8);
  EXPECT_LT(OggQualityValue(20), 1.0 + 2e-8);
  EXPECT_EQ(OggQualityValue(-3), 0.0);
  EXPECT_EQ(OggNominalKbps(-1), 0u);
  EXPECT_EQ(OggNominalKbps(21), 0u);
}

TEST(SettingsValues, SampleRatesAndPresetTexts) {
  const int rates[] = {0, 0, 32000, 44100, 48000, 0};
  for (int32_t i = -1; i <= 4; ++i) EXPECT_EQ(SampleRateHz(i), rates[i + 1]) << i;
  for (int32_t i = -1; i <= 23; ++i) {
    EXPECT_STREQ(Mp3PresetFileText(i), i == 17            ? "Voice new"
                                       : i < 0 || i == 23 ? ""
                                                          : Mp3PresetNames[i])
        << i;
  }
}

}  // namespace
