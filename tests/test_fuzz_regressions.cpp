// What the fuzz targets (fuzz/) found, replayed through the ordinary calls, one case each:
// - a folder with a CR in mid-line, which the profile refuses, dropped the whole settings save;
// - a new section after a last line ending in a lone CR (no LF) put that CR into its value;
// - a cdrdao TRACK line without its mode killed the process (SIGFPE in libcdio; the third
//   row is the input as found).
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "config/settings.h"
#include "disc/cd_device.h"
#include "disc/track_list.h"
#include "platform/profile.h"
#include "support/test_env.h"

namespace {

using namespace std::string_literals;

TEST(FuzzRegression, SaveKeepsTheOtherKeysWhenTheFolderHoldsACarriageReturn) {
  ScopedConfigHome home;
  std::filesystem::create_directories(home.path() + "/obrin");
  WriteFile(home.iniPath(), "[Output]\nPath=/music/a\rb/\n");
  RipSettings settings;
  LoadDefaultSettings(settings);
  LoadSettings(settings);
  ASSERT_EQ(settings.outputPath, "/music/a\rb/");
  settings.formats.mp3.bitrate = 2;
  SaveSettings(settings);
  EXPECT_EQ(GetProfileString("MP3 Setting", "bitrate", "", home.iniPath()), "48 kbps");
  EXPECT_EQ(GetProfileString("Output", "Path", "", home.iniPath()), "/music/a\rb/");
}

TEST(FuzzRegression, AppendingAfterALastLineEndingInACarriageReturnKeepsItsValue) {
  TempDir dir;
  WriteFile(dir / "a.ini", "[A]\r\nk=v\r");
  ASSERT_TRUE(WriteProfileString("B", "x", "y", dir / "a.ini"));
  EXPECT_EQ(GetProfileString("A", "k", "", dir / "a.ini"), "v");
  EXPECT_EQ(ReadFile(dir / "a.ini"), "[A]\r\nk=v\r\n[B]\r\nx=y\r\n");
}

// libcdio reads a line in 512-byte pieces, drops "//" comments and stops at a NUL: each can
// hide a mode from it that a plain reading would see.
TEST(FuzzRegression, TocTrackWithoutAModeIsRefusedNotACrash) {
  const std::string longComment = "//" + std::string(509, 'X');
  for (const auto& [text, opens] :
       {std::pair{"TRACK //AUDIO\nFILE \"disc.bin\" 0\n"s, false},
        {"TRACK AUDIO\n" + longComment + "TRACK\nFILE \"disc.bin\" 0\n", false},
        {"CD_DA\nTRACK AUDIO\nSILENCE 00:00:02\nFILE \"disc.bin\" 0 00:00:10\nTRACK \0\0\0\xD0"
         "AUDIO\nPREGAP 0:01\nFILE \"disc.bin\" 00:00:1\0\0\0\0\0\0\0\x06"
         "06\n"s,
         false},
        {"TRACK AUDIO // note\n" + longComment.substr(0, 510) + "\nFILE \"disc.bin\" 0\n", true}}) {
    TempDir dir;
    WriteFile(dir / "disc.bin", std::string(16 * kSectorBytes, '\x5A'));
    WriteFile(dir / "disc.toc", text);
    SetCdImages({dir / "disc.toc"});
    RipSettings settings;
    EXPECT_EQ(BuildTrackList(settings, EnumerateCdDrives(settings) - 1), opens ? 0 : -1) << text;
    EXPECT_EQ(settings.tracks.size(), opens ? 1u : 0u);
  }
}

}  // namespace
