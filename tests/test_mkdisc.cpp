// mkdisc: its command line, the files it writes and what the audio in them looks like.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace {

constexpr size_t kSector = 2352;

std::vector<int16_t> Samples(const std::string& bytes) {
  std::vector<int16_t> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    samples[i] = static_cast<int16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                      static_cast<uint8_t>(bytes[2 * i + 1]) << 8);
  }
  return samples;
}

TEST(Mkdisc, HelpDescribesZeroLengthTracks) {
  CommandResult r = RunCommand({"mkdisc", "--help"});
  EXPECT_EQ(r.exitStatus, 0);
  EXPECT_NE(r.out.find("Usage: mkdisc OUTPUT"), std::string::npos);
  EXPECT_NE(r.out.find("lengths of 0"), std::string::npos);
}

TEST(Mkdisc, UsageErrorsExitWithTwo) {
  TempDir dir;
  const std::string cue = dir / "d.cue", toc = dir / "d.toc";
  const std::vector<std::vector<std::string>> cases = {
      {},
      {dir / "d.wav"},
      {cue, cue},
      {cue, "--lengths", "10,x"},
      {cue, "--lengths", ""},
      {cue, "--lengths", "10,,20"},
      {cue, "--lengths", "0,0"},
      {cue, "--lengths"},
      {cue, "--data-track", "0"},
      {cue, "--data-track", "4"},
      {cue, "--seed", "-1"},
      {cue, "--short", "5"},
      {toc, "--short", "13501"},
      {toc, "--lengths", "10,0"},
      {cue, "--frobnicate"},
  };
  for (const auto& args : cases) {
    std::vector<std::string> full = {"mkdisc"};
    full.insert(full.end(), args.begin(), args.end());
    CommandResult r = RunCommand(full);
    EXPECT_EQ(r.exitStatus, 2) << ::testing::PrintToString(args);
    EXPECT_FALSE(r.err.empty()) << ::testing::PrintToString(args);
  }
  std::string hundred = "1";
  for (int i = 1; i < 100; ++i) hundred += ",1";
  EXPECT_EQ(RunCommand({"mkdisc", cue, "--lengths", hundred}).exitStatus, 2);
  EXPECT_FALSE(FileExists(dir / "d.bin"));
}

TEST(Mkdisc, WritesCueSheetBesideTheBin) {
  TempDir dir;
  MakeDisc({dir / "disc.cue", "--lengths", "75,0,4500", "--data-track", "3"});
  EXPECT_EQ(ReadFile(dir / "disc.cue"),
            "FILE \"disc.bin\" BINARY\n"
            "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n"
            "  TRACK 03 MODE1/2352\n    INDEX 01 00:01:00\n");
  EXPECT_EQ(ReadFile(dir / "disc.bin").size(), 4575 * kSector);
}

TEST(Mkdisc, TocDeclaresEveryLengthAndShortCutsTheBin) {
  TempDir dir;
  MakeDisc({dir / "disc.toc", "--lengths", "4500,76", "--short", "10"});
  const std::string toc = ReadFile(dir / "disc.toc");
  EXPECT_NE(toc.find("FILE \"disc.bin\" 0 01:00:00\n"), std::string::npos) << toc;
  EXPECT_NE(toc.find("FILE \"disc.bin\" 01:00:00 00:01:01\n"), std::string::npos) << toc;
  EXPECT_EQ(ReadFile(dir / "disc.bin").size(), 4566 * kSector);

  // The same disc without --short: the short bin is a prefix of it.
  TempDir other;
  MakeDisc({other / "disc.toc", "--lengths", "4500,76"});
  const std::string full = ReadFile(other / "disc.bin");
  EXPECT_TRUE(full.substr(0, 4566 * kSector) == ReadFile(dir / "disc.bin"));
}

TEST(Mkdisc, SameArgumentsSameBytes) {
  TempDir dir;
  MakeDisc({dir / "a.cue", "--lengths", "300,200", "--seed", "42"});
  MakeDisc({dir / "b.cue", "--lengths", "300,200", "--seed", "42"});
  MakeDisc({dir / "c.cue", "--lengths", "300,200", "--seed", "43"});
  const std::string a = ReadFile(dir / "a.bin");
  EXPECT_TRUE(a == ReadFile(dir / "b.bin"));
  EXPECT_FALSE(a == ReadFile(dir / "c.bin"));
}

TEST(Mkdisc, AudioIsMusicLikeAndDiffersPerTrack) {
  TempDir dir;
  MakeDisc({dir / "disc.cue", "--lengths", "750,750,20", "--data-track", "3"});
  const std::string bin = ReadFile(dir / "disc.bin");
  std::vector<int16_t> tracks[2];
  for (int t = 0; t < 2; ++t) {
    SCOPED_TRACE(t);
    tracks[t] = Samples(bin.substr(t * 750 * kSector, 750 * kSector));
    const auto& s = tracks[t];
    int peak = 0;
    double energy = 0;
    size_t stereoDiffers = 0;
    for (size_t i = 0; i < s.size(); ++i) {
      peak = std::max(peak, std::abs(int{s[i]}));
      energy += static_cast<double>(s[i]) * s[i];
      if (i % 2 == 0 && s[i] != s[i + 1]) ++stereoDiffers;
    }
    EXPECT_LT(peak, 26000);                        // headroom, no clipping
    EXPECT_GT(std::sqrt(energy / s.size()), 500);  // not silence

    // Drums make the loudness jump between 10 ms windows; a steady tone would not.
    double quietest = 1e300, loudest = 0;
    for (size_t w = 0; w + 882 <= s.size(); w += 882) {
      double e = 0;
      for (size_t i = w; i < w + 882; i += 2) e += static_cast<double>(s[i]) * s[i];
      quietest = std::min(quietest, e);
      loudest = std::max(loudest, e);
    }
    EXPECT_GT(loudest, 4 * quietest);

    // One sine obeys x[n] = a x[n-1] + b x[n-2] up to rounding; chords and noise do not.
    double s00 = 0, s01 = 0, s02 = 0, s11 = 0, s12 = 0, s22 = 0;
    for (size_t i = 4; i < s.size(); i += 2) {
      const double x0 = s[i], x1 = s[i - 2], x2 = s[i - 4];
      s00 += x0 * x0, s01 += x0 * x1, s02 += x0 * x2;
      s11 += x1 * x1, s12 += x1 * x2, s22 += x2 * x2;
    }
    const double det = s11 * s22 - s12 * s12;
    const double a = (s01 * s22 - s02 * s12) / det, b = (s02 * s11 - s01 * s12) / det;
    EXPECT_GT((s00 - a * s01 - b * s02) / s00, 1e-4);
    EXPECT_GT(stereoDiffers, s.size() / 4);
  }
  EXPECT_FALSE(tracks[0] == tracks[1]);
  // The data track starts with a sector sync pattern, not audio.
  const std::string data = bin.substr(1500 * kSector, 12);
  EXPECT_EQ(data, std::string("\x00", 1) + std::string(10, '\xFF') + std::string("\x00", 1));
}

}  // namespace
