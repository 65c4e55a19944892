// mkdisc, the test-disc maker. Faults guarded here:
// - a bad command line exits 2 with a message and writes nothing (lengths, track count,
//   data track, --short on a cue or past a track, a .toc ending with an empty track);
// - the cue sheet's INDEX positions and modes (the .toc's declared lengths: test_obrin_rip);
//   --short cuts the bin's end only; the seed alone picks the bytes;
// - the audio is music-like (headroom, not silence, stereo, a song per track); a data track
//   starts with a sector sync pattern.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace {

constexpr size_t kSector = 2352;

TEST(Mkdisc, BadCommandLinesExitWithTwoAndWriteNothing) {
  TempDir dir;
  std::string hundred = "1";
  for (int i = 1; i < 100; ++i) hundred += ",1";
  for (const std::string& row : std::vector<std::string>{
           "", "d.wav", "d.cue d.cue", "d.cue --lengths 10,,20", "d.cue --lengths 0,0",
           "d.cue --lengths " + hundred, "d.cue --lengths", "d.cue --data-track 0",
           "d.cue --data-track 4", "d.cue --seed -1", "d.cue --short 5", "d.toc --short 13501",
           "d.toc --lengths 100,10 --short 11", "d.toc --lengths 10,0", "d.cue --frobnicate"}) {
    std::vector<std::string> args = {"mkdisc"};
    std::istringstream words(row);
    for (std::string w; words >> w;) args.push_back(w.rfind("d.", 0) == 0 ? dir / w : w);
    const CommandResult r = RunCommand(args);
    EXPECT_EQ(r.exitStatus, 2) << row;
    EXPECT_FALSE(r.err.empty()) << row;
  }
  EXPECT_FALSE(FileExists(dir / "d.bin"));
}

TEST(Mkdisc, SheetsDeclareEveryTrackAndShortCutsOnlyTheEnd) {
  TempDir dir;
  MakeDisc({dir / "a.cue", "--lengths", "75,0,4500", "--data-track", "3"});
  EXPECT_EQ(ReadFile(dir / "a.cue"),
            "FILE \"a.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n"
            "  TRACK 03 MODE1/2352\n    INDEX 01 00:01:00\n");
  const std::string bin = ReadFile(dir / "a.bin");
  EXPECT_EQ(bin.size(), 4575 * kSector);
  EXPECT_EQ(bin.substr(75 * kSector, 12), std::string(1, 0) + std::string(10, '\xFF') + '\0');

  // --short cuts the end only; the same arguments give the same bytes, another seed others.
  MakeDisc({dir / "b.toc", "--lengths", "100,76", "--short", "10"});
  MakeDisc({dir / "c.toc", "--lengths", "100,76"});
  MakeDisc({dir / "d.toc", "--lengths", "100,76", "--seed", "2"});
  const std::string full = ReadFile(dir / "c.bin");
  EXPECT_EQ(full.size(), 176 * kSector);
  EXPECT_TRUE(full.substr(0, 166 * kSector) == ReadFile(dir / "b.bin"));
  EXPECT_TRUE(full != ReadFile(dir / "d.bin"));
}

TEST(Mkdisc, AudioIsMusicLikeAndDiffersPerTrack) {
  TempDir dir;
  MakeDisc({dir / "disc.cue", "--lengths", "750,750"});
  const std::string bin = ReadFile(dir / "disc.bin");
  std::vector<int16_t> s(bin.size() / 2);
  std::memcpy(s.data(), bin.data(), bin.size());  // little-endian, as the machine
  double energy = 0;
  size_t peak = 0, stereo = 0;
  for (size_t i = 0; i < s.size(); i += 2) {
    peak = std::max<size_t>({peak, size_t(std::abs(s[i])), size_t(std::abs(s[i + 1]))});
    energy += double(s[i]) * s[i];
    stereo += s[i] != s[i + 1];
  }
  EXPECT_TRUE(peak < 26000 && energy > 500.0 * 500 * s.size() / 2) << "clipping, or silence";
  EXPECT_GT(stereo, s.size() / 4) << "mono";
  EXPECT_FALSE(std::equal(s.begin(), s.begin() + s.size() / 2, s.begin() + s.size() / 2));
}

}  // namespace
