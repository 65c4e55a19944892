// Names that are not regular files, unreadable PCM, refused settings, locale, profile, memory.
#include <dlfcn.h>
#include <sys/stat.h>

#include <clocale>
#include <filesystem>

#include <gtest/gtest.h>

#include "disc/track_row_text.h"
#include "encoders/mp3_encoder.h"
#include "encoders/ogg_encoder.h"
#include "platform/profile.h"
#include "rip/encoder_binding.h"
#include "rip/rip_job.h"
#include "support/fake_drive.h"
#include "support/recording_host.h"
#include "support/test_env.h"

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

TEST(FileSafety, LinksAndFifosAtOutputOrTemporaryNamesAreRefused) {
  const struct {
    int32_t format;
    const char *name, *linkTo;  // no link: a FIFO
  } cases[] = {{Wav, "Album/-Track 01.wav", "victim"}, {Wav, "Album/-Track 01.wav", nullptr},
               {Ogg, "cddatmp001.pcm", "victim"},      {Ogg, "cddatmp001.pcm", "made"},
               {Ogg, "cddatmp001.pcm", nullptr},       {Ogg, "Album/-Track 01.ogg", "victim"}};
  ScopedConfigHome config;
  auto drive = std::make_shared<FakeDrive>();
  drive->SetTracks({{0, 30, false}});
  SetCdDevices({drive});
  for (const auto& c : cases) {
    TempDir dir;
    PrepareRipSettings(dir.path() + "/", c.format);
    ripSettings.discAlbum = "Album";
    fs::create_directory(dir / "Album");
    WriteFile(dir / "victim", "keep");
    const std::string name = dir / c.name;
    ASSERT_EQ(
        c.linkTo ? symlink((dir / c.linkTo).c_str(), name.c_str()) : mkfifo(name.c_str(), 0600), 0);
    RecordingHost host;
    ripSettings.ripping = 1;
    RipJob(host);
    EXPECT_EQ(host.errors(), Texts{"Cannot create output file"}) << c.name;
    EXPECT_EQ(ripSettings.tracks[0].status, kStatusError);
    EXPECT_TRUE(ReadFile(dir / "victim") == "keep" && !FileExists(dir / "made"));
    EXPECT_FALSE(fs::is_regular_file(fs::symlink_status(name)));
  }
}

// /proc/self/mem is a regular file whose first byte reads as an I/O error.
TEST(FileSafety, AnUnreadablePcmFileEndsTheEncodeInError) {
  void* fake = dlopen(OBRIN_FAKE_LAME_DIR "/liblame_enc.so", RTLD_NOW);  // bound by its name
  RecordingHost host;
  ASSERT_TRUE(fake && BindEncoderLibrary(host));
  TempDir dir;
  TrackRecord mp3, ogg;  // all-zero MP3 settings suit the stand-in library
  ogg.formatSettings = std::bit_cast<std::array<uint32_t, 10>>(OggSettings{});
  Mp3Job mp3Job{&mp3, "/proc/self/mem", dir / "out.mp3", false};
  EncodePcmToMp3(host, mp3Job);
  uint8_t buffer[4096];
  OggJob oggJob{&ogg, "/proc/self/mem", dir / "out.ogg", buffer, sizeof buffer, false};
  EncodePcmToOgg(host, oggJob);
  ReleaseEncoderLibrary();
  dlclose(fake);
  EXPECT_EQ(host.errors(), Texts(2, "Cannot open PCM data file"));
  EXPECT_EQ(mp3.status + ogg.status, 2 * kStatusError);
}

TEST(FileSafety, SettingsTheEncoderRefusesEndEveryTrackWithOneMessageAndNoCapture) {
  const std::string ogg = "[OGG Setting]\nchannels=Mono\nusecbr=TRUE\ncbr=350 kbps\nusevbr=FALSE\n";
  const Texts fakeLame = {"LD_LIBRARY_PATH=" OBRIN_FAKE_LAME_DIR, "OBRIN_FAKE_LAME_FAIL=init"};
  const struct {
    std::string format, settings, message;
    Texts env;
  } cases[] = {{"ogg", ogg, kOggSettingsRefused, {}}, {"mp3", "", kMp3SettingsRefused, fakeLame}};
  TempDir dir;
  const std::string cue = MakeDiscAt(dir / "disc.cue", {"--lengths", "300,300"});
  for (const auto& c : cases) {
    ScopedConfigHome config;
    fs::create_directories(config.path() + "/obrin");
    WriteFile(config.iniPath(), c.settings);
    const CommandResult r = RunCommand(
        {"obrin-rip", "--image", cue, "--format", c.format, "--output", dir / c.format}, c.env);
    EXPECT_EQ(r.exitStatus, 1);  // one message, and no percentage: nothing was captured
    std::string rest = r.err;    // the message comes from the worker, in any order
    const std::string message = "Obrin error: " + c.message + "\n";
    ASSERT_NE(rest.find(message), std::string::npos) << r.err;
    EXPECT_EQ(rest.erase(rest.find(message), message.size()), "Track 01: ERROR\nTrack 02: ERROR\n");
  }
}

TEST(FileSafety, RowNumbersIgnoreTheProcessLocale) {
  TempDir locales;  // de_DE.UTF-8 is made privately from the "locales" sources when missing
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
    ASSERT_EQ(
        RunCommand({"/usr/bin/localedef", "-i", "de_DE", "-f", "UTF-8", locales / "de_DE.UTF-8"})
            .exitStatus,
        0);
    setenv("LOCPATH", locales.path().c_str(), 1);
    ASSERT_TRUE(std::setlocale(LC_ALL, "de_DE.UTF-8"));
  }
  TrackRecord track;
  track.format = Ogg;
  track.formatSettings = std::bit_cast<std::array<uint32_t, 10>>(OggSettings{});
  const std::string text = TrackFormatText(track);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(text, "OGG VBR Q0.45 (141 kbps)");
}

TEST(FileSafety, ProfileDropsOnePairOfQuotesAndWritesThroughADanglingLink) {
  TempDir dir;
  const std::string ini = dir / "Obrin.ini";
  for (const auto& [stored, read] : {std::pair{"\"/x y/\"", "/x y/"},
                                     {"\"\"", ""},
                                     {"\"a", "\"a"},
                                     {"\"a\" \"b\"", "a\" \"b"},
                                     {"'a'", "'a'"}}) {
    WriteFile(ini, "[S]\nk=" + std::string(stored) + "\n");
    EXPECT_EQ(GetProfileString("S", "k", "-", ini), read) << stored;
  }
  fs::remove(ini);
  ASSERT_EQ(symlink("dotfiles/Obrin.ini", ini.c_str()), 0);  // relative to the link's folder
  ASSERT_TRUE(WriteProfileString("Output", "Path", "/m/", ini));
  EXPECT_TRUE(fs::is_symlink(ini));
  EXPECT_EQ(ReadFile(dir / "dotfiles/Obrin.ini"), "[Output]\nPath=/m/\n");
}

// From the lowest address-space limit obrin-rip loads under up to the first complete rip.
TEST(FileSafety, LowMemoryLimitsEndTheJobWithAMessageNeverACrash) {
  if (dlsym(RTLD_DEFAULT, "__asan_init") || dlsym(RTLD_DEFAULT, "__tsan_init")) {
    GTEST_SKIP() << "sanitizer runtimes do not start under an address-space limit";
  }
  TempDir dir;
  ScopedConfigHome config;
  const std::string cue = MakeDiscAt(dir / "disc.cue", {"--lengths", "75,75"});
  for (const std::string format : {"ogg", "mp3"}) {
    bool saidNoMemory = false, completed = false;
    for (int mb = 4; mb <= 256 && !completed; ++mb) {
      const std::string out = dir / (format + std::to_string(mb));
      const CommandResult r =
          RunCommand({"/bin/sh", "-c", "ulimit -v $0 && exec \"$@\"", std::to_string(mb * 1024),
                      BinPath("obrin-rip"), "--image", cue, "--format", format, "--output", out});
      if (r.exitStatus == 127) continue;  // the loader could not map the libraries yet
      ASSERT_TRUE(r.exitStatus == 0 || r.err.find("Obrin error: ") != std::string::npos)
          << "exit " << r.exitStatus << " at " << mb << " MB\n"
          << r.err;
      completed = r.exitStatus == 0;
      saidNoMemory |=
          r.err.find("Obrin error: Not enough memory to go on ripping\n") != std::string::npos;
      std::error_code none;
      for (const auto& file : fs::recursive_directory_iterator(out, none)) {
        EXPECT_TRUE(file.is_directory() ||
                    (file.file_size() > 0 && file.path().extension() != ".pcm"))
            << file.path() << " at " << mb << " MB";
      }
    }
    EXPECT_TRUE(saidNoMemory && completed) << format;
  }
}
