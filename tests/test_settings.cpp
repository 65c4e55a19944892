#include "config/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "platform/profile.h"
#include "support/test_env.h"

namespace {

// Sets or removes an environment variable for the object's life.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    if (value) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (saved_) {
      setenv(name_.c_str(), saved_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
  }

 private:
  std::string name_;
  std::optional<std::string> saved_;
};

std::array<int32_t, 20> Words(const FormatSettings& f) {
  std::array<int32_t, 20> words;
  std::memcpy(words.data(), &f, sizeof f);
  return words;
}

std::string FreshFile() {
  return "[Output]\n"
         "Path=" +
         GetProgramFolder() +
         "My Music/\n"
         "[WAV Setting]\n"
         "samplerate=Same as input\n"
         "samplebits=16 bits\n"
         "channels=Stereo\n"
         "[MP3 Setting]\n"
         "samplerate=Same as input\n"
         "channels=Stereo\n"
         "bitrate=128 kbps\n"
         "mpegquality=Very high\n"
         "vbr=TRUE\n"
         "vbrmax=192 kbps\n"
         "vbrquality=2\n"
         "[OGG Setting]\n"
         "samplerate=Same as input\n"
         "channels=Stereo\n"
         "cbr=128 kbps\n"
         "usecbr=FALSE\n"
         "bbrnom=128 kbps\n"
         "bbrmin=128 kbps\n"
         "bbrmax=256 kbps\n"
         "usebbr=FALSE\n"
         "vbr=9\n"
         "usevbr=TRUE\n";
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
  EXPECT_EQ(s.outputPath, GetProgramFolder() + "My Music/");
  EXPECT_EQ(s.fileNameTemplate, "$a-$t");
  EXPECT_EQ(Words(s.formats), Words(FormatSettings{}));
  EXPECT_EQ(s.formats.mp3.preset, 5);
  EXPECT_EQ(s.discGenre, 12);
  EXPECT_TRUE(s.tracks.empty());
  EXPECT_EQ(s.currentTrack, -1);
  EXPECT_FALSE(FileExists(ini())) << "defaults alone must not touch the file";

  LoadDefaultSettings(ripSettings);  // the process-wide record
  EXPECT_EQ(ripSettings.outputPath, s.outputPath);
}

TEST_F(SettingsTest, FirstRunWritesTheCompleteFile) {
  RipSettings s = Loaded();
  EXPECT_EQ(ReadFile(ini()), FreshFile());
  EXPECT_EQ(Words(s.formats), Words(FormatSettings{}));
  EXPECT_EQ(s.outputPath, GetProgramFolder() + "My Music/");

  // Loading a complete file changes nothing in it.
  struct stat before {
  }, after{};
  ASSERT_EQ(stat(ini().c_str(), &before), 0);
  Loaded();
  ASSERT_EQ(stat(ini().c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
  EXPECT_EQ(ReadFile(ini()), FreshFile());
}

TEST_F(SettingsTest, OggModePrecedence) {
  const struct {
    const char* usecbr;  // nullptr: key absent
    const char* usebbr;
    const char* usevbr;
    int cbr, bbr, vbr;
  } cases[] = {
      {"TRUE", "TRUE", "TRUE", 1, 0, 0},
      {"FALSE", "FALSE", "FALSE", 0, 0, 1},
      {"FALSE", "TRUE", "TRUE", 0, 1, 0},
      {"FALSE", "TRUE", "FALSE", 0, 1, 0},
      {"TRUE", "FALSE", "FALSE", 1, 0, 0},
      {"true", "TRUE", "x", 0, 1, 0},
      {nullptr, "TRUE", "FALSE", 0, 1, 0},
      {"FALSE", nullptr, "FALSE", 0, 0, 1},
      // No usevbr key: the default text goes in and the member keeps its default 1.
      {"TRUE", "TRUE", nullptr, 1, 0, 1},
  };
  for (const auto& c : cases) {
    std::remove(ini().c_str());
    if (c.usecbr) Set("OGG Setting", "usecbr", c.usecbr);
    if (c.usebbr) Set("OGG Setting", "usebbr", c.usebbr);
    if (c.usevbr) Set("OGG Setting", "usevbr", c.usevbr);
    RipSettings s = Loaded();
    std::string label = std::string(c.usecbr ? c.usecbr : "-") + "/" + (c.usebbr ? c.usebbr : "-") +
                        "/" + (c.usevbr ? c.usevbr : "-");
    EXPECT_EQ(s.formats.ogg.useCbr, c.cbr) << label;
    EXPECT_EQ(s.formats.ogg.useBbr, c.bbr) << label;
    EXPECT_EQ(s.formats.ogg.useVbr, c.vbr) << label;
    EXPECT_EQ(Get("OGG Setting", "usevbr"), c.usevbr ? c.usevbr : "TRUE") << label;
  }
}

TEST_F(SettingsTest, UnknownTextsKeepTheDefaultUntilSaved) {
  Loaded();
  Set("MP3 Setting", "channels", "stereo");
  Set("MP3 Setting", "vbr", "true");
  Set("MP3 Setting", "vbrquality", "10");
  Set("OGG Setting", "vbr", "21");
  Set("MP3 Setting", "bitrate", "128kbps");
  Set("WAV Setting", "samplerate", "44100");
  Set("OGG Setting", "channels", " 5.1 ");  // blanks are the profile's to trim
  RipSettings s = Loaded();
  EXPECT_EQ(s.formats.mp3.channels, 1);
  EXPECT_EQ(s.formats.mp3.vbrEnabled, 0);
  EXPECT_EQ(s.formats.mp3.vbrQuality, 2);
  EXPECT_EQ(s.formats.ogg.vbrQuality, 9);
  EXPECT_EQ(s.formats.mp3.bitrate, 8);
  EXPECT_EQ(s.formats.wav.sampleRate, 0);
  EXPECT_EQ(s.formats.ogg.channels, 2);
  EXPECT_EQ(Get("MP3 Setting", "channels"), "stereo") << "loading must not rewrite it";

  SaveSettings(s);
  EXPECT_EQ(Get("MP3 Setting", "channels"), "Stereo");
  EXPECT_EQ(Get("MP3 Setting", "vbr"), "FALSE");
  EXPECT_EQ(Get("MP3 Setting", "vbrquality"), "2");
  EXPECT_EQ(Get("OGG Setting", "vbr"), "9");
}

TEST_F(SettingsTest, EmptyAndMissingKeysAreWrittenBack) {
  Set("MP3 Setting", "bitrate", "");
  Set("MP3 Setting", "vbrmax", "320 kbps");
  RipSettings s = Loaded();
  EXPECT_EQ(s.formats.mp3.bitrate, 8);
  EXPECT_EQ(s.formats.mp3.vbrMaxBitrate, 13);
  EXPECT_EQ(Get("MP3 Setting", "bitrate"), "128 kbps");
  EXPECT_EQ(Get("MP3 Setting", "vbrmax"), "320 kbps");
  EXPECT_EQ(Get("Output", "Path"), GetProgramFolder() + "My Music/");
  EXPECT_EQ(Get("OGG Setting", "usevbr"), "TRUE");
}

TEST_F(SettingsTest, HandEditedFileMatchesNamesButNotValuesIgnoringCase) {
  ASSERT_EQ(mkdir((home.path() + "/obrin").c_str(), 0700), 0);
  WriteFile(ini(),
            "; my settings\r\n[mp3 setting]\r\nBITRATE = 320 kbps\r\nMpegQuality=very high\r\n");
  RipSettings s = Loaded();
  EXPECT_EQ(s.formats.mp3.bitrate, 13);
  EXPECT_EQ(s.formats.mp3.preset, 5);  // "very high" is not "Very high"
  std::string text = ReadFile(ini());
  EXPECT_EQ(text.rfind("; my settings\r\n[mp3 setting]\r\nBITRATE = 320 kbps\r\n", 0), 0u) << text;
}

// One member of the format block with the number of texts it can take.
struct TableMember {
  const char* name;
  int32_t& (*member)(FormatSettings&);
  int32_t count;
};

#define M(path) [](FormatSettings& f) -> int32_t& { return f.path; }
const TableMember kTableMembers[] = {
    {"wav.sampleRate", M(wav.sampleRate), 4},  {"wav.bitsPerSample", M(wav.bitsPerSample), 2},
    {"wav.channels", M(wav.channels), 2},      {"mp3.sampleRate", M(mp3.sampleRate), 4},
    {"mp3.channels", M(mp3.channels), 3},      {"mp3.bitrate", M(mp3.bitrate), 14},
    {"mp3.preset", M(mp3.preset), 23},         {"mp3.vbrMaxBitrate", M(mp3.vbrMaxBitrate), 14},
    {"mp3.vbrQuality", M(mp3.vbrQuality), 10}, {"mp3.vbrEnabled", M(mp3.vbrEnabled), 2},
    {"ogg.sampleRate", M(ogg.sampleRate), 4},  {"ogg.channels", M(ogg.channels), 3},
    {"ogg.cbrBitrate", M(ogg.cbrBitrate), 5},  {"ogg.bbrNominal", M(ogg.bbrNominal), 5},
    {"ogg.bbrMin", M(ogg.bbrMin), 5},          {"ogg.bbrMax", M(ogg.bbrMax), 5},
    {"ogg.vbrQuality", M(ogg.vbrQuality), 21},
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
  s.formats.mp3.vbrEnabled = 0;
  SaveSettings(s);
  EXPECT_EQ(Get("MP3 Setting", "mpegquality"), "Voice new");
  EXPECT_EQ(Get("MP3 Setting", "bitrate"), "320 kbps");
  EXPECT_EQ(Get("OGG Setting", "cbr"), "350 kbps");
  EXPECT_EQ(Get("WAV Setting", "samplerate"), "44100 Hz");
  EXPECT_EQ(Get("WAV Setting", "samplebits"), "8 bits");
  EXPECT_EQ(Get("MP3 Setting", "channels"), "Joint stereo");
  EXPECT_EQ(Get("OGG Setting", "vbr"), "20");
  EXPECT_EQ(Get("MP3 Setting", "vbr"), "FALSE");
  EXPECT_EQ(Loaded().formats.mp3.preset, 17);

  Set("MP3 Setting", "mpegquality", "Voice (new)");  // the combo text is not a file text
  EXPECT_EQ(Loaded().formats.mp3.preset, 5);
}

TEST_F(SettingsTest, OutputPathIsTakenAsStored) {
  Loaded();
  Set("Output", "Path", "/data/rips");
  RipSettings s = Loaded();
  EXPECT_EQ(s.outputPath, "/data/rips");
  EXPECT_EQ(ReadOutputFolderFromFile(), "/data/rips");
  SaveSettings(s);
  EXPECT_EQ(Get("Output", "Path"), "/data/rips");

  // The file is the live source: a hand edit shows at once, without a reload.
  Set("Output", "Path", "relative/folder");
  EXPECT_EQ(ReadOutputFolderFromFile(), "relative/folder");

  s.outputPath = std::string(1500, 'p');
  SaveSettings(s);
  EXPECT_EQ(ReadOutputFolderFromFile(), std::string(1023, 'p'));
  EXPECT_EQ(Loaded().outputPath, std::string(1023, 'p'));
}

TEST_F(SettingsTest, OutputFolderIsEmptyWithoutAFile) {
  EXPECT_EQ(ReadOutputFolderFromFile(), "");
  EXPECT_FALSE(FileExists(ini()));
}

TEST_F(SettingsTest, SettingsFileLocation) {
  EXPECT_EQ(SettingsFilePath(), home.path() + "/obrin/Obrin.ini");
  {
    ScopedEnv xdg("XDG_CONFIG_HOME", (home.path() + "/").c_str());
    EXPECT_EQ(SettingsFilePath(), home.path() + "/obrin/Obrin.ini");
  }
  ScopedEnv homeVar("HOME", "/home/someone");
  for (const char* ignored : {"", "relative/config"}) {
    ScopedEnv xdg("XDG_CONFIG_HOME", ignored);
    EXPECT_EQ(SettingsFilePath(), "/home/someone/.config/obrin/Obrin.ini") << ignored;
  }
  ScopedEnv noXdg("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(SettingsFilePath(), "/home/someone/.config/obrin/Obrin.ini");
  ScopedEnv noHome("HOME", nullptr);
  std::string path = SettingsFilePath();
  EXPECT_EQ(path.substr(0, 1), "/");
  EXPECT_NE(path.find("/.config/obrin/Obrin.ini"), std::string::npos) << path;
}

TEST(SettingsValues, ProgramFolderHoldsTheExecutable) {
  std::string folder = GetProgramFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_EQ(folder.back(), '/');
  EXPECT_TRUE(FileExists(folder + "test_settings")) << folder;
}

TEST(SettingsValues, OggSliderLabels) {
  for (int32_t p = 0; p <= 20; ++p) {
    char text[32];
    std::snprintf(text, sizeof text, "%.02f (%d kbps)", OggQualityValue(p), OggNominalKbps(p));
    char expected[32];
    std::snprintf(expected, sizeof expected, "%d.%02d (%u kbps)", p / 20, p % 20 * 5,
                  OggNominalKbpsTable[p]);
    EXPECT_STREQ(text, expected);
  }
  char label[32];
  std::snprintf(label, sizeof label, "%.02f (%d kbps)", OggQualityValue(9), OggNominalKbps(9));
  EXPECT_STREQ(label, "0.45 (141 kbps)");
  // The single-precision step shows through: not the double 0.45, and just over 1 at the top.
  EXPECT_EQ(OggQualityValue(1), static_cast<double>(0.05f));
  EXPECT_NE(OggQualityValue(9), 0.45);
  EXPECT_GT(OggQualityValue(20), 1.0 + 1e-8);
  EXPECT_LT(OggQualityValue(20), 1.0 + 2e-8);
  EXPECT_EQ(OggQualityValue(0), 0.0);
  EXPECT_EQ(OggQualityValue(-3), 0.0);
  EXPECT_EQ(OggNominalKbps(-1), 0u);
  EXPECT_EQ(OggNominalKbps(21), 0u);
}

TEST(SettingsValues, SampleRatesAndPresetTexts) {
  const int rates[] = {0, 32000, 44100, 48000};
  for (int32_t i = 0; i < 4; ++i) EXPECT_EQ(SampleRateHz(i), rates[i]);
  EXPECT_EQ(SampleRateHz(-1), 0);
  EXPECT_EQ(SampleRateHz(4), 0);
  for (int32_t i = 0; i < 23; ++i) {
    EXPECT_STREQ(Mp3PresetFileText(i), i == 17 ? "Voice new" : Mp3PresetNames[i]);
  }
  EXPECT_STREQ(Mp3PresetFileText(23), "");
  EXPECT_STREQ(Mp3PresetFileText(-1), "");
}

}  // namespace
